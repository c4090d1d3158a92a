// Packet and frame queues between the demux loop, the decoder thread and the
// presentation thread. Each queue has one producer and one consumer, so none
// takes a lock: an index is written by one side only and published with
// release ordering; the other side reads it with acquire ordering.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/spin_lock.h"

struct AVPacket;
struct AVFrame;
struct AVCodecContext;
struct PlayerContext;

// One packet on its way to a decoder. A packet with null data and size 0 is
// the end marker of its stream.
struct PacketNode {
    PacketNode* next;
    AVPacket* packet; // owned by the node, allocated with it
};

constexpr uint32_t RING_SIZE = 16;
constexpr uint32_t RING_MASK = RING_SIZE - 1;
constexpr uint32_t FRAME_RING_SIZE = 8;
constexpr uint32_t FRAME_RING_MASK = FRAME_RING_SIZE - 1;
// The decoder may fill an entry only while at most this many frames wait.
constexpr uint32_t FRAME_RING_MAX_WAITING_TO_FILL = 5;

struct FrameEntry {
    uint8_t* audio_data;    // 16-byte-aligned converted samples, owned and reused
    int32_t audio_capacity; // bytes
    int32_t audio_bytes;    // bytes filled
    AVFrame* frame;         // allocated once, buffers referenced per use
    int32_t time_ms;        // presentation time relative to the item's start offset
};

struct StreamSlot {
    // The slot's own packet list. Only the decoder thread links and unlinks;
    // the media thread reads the head to see whether the list is empty.
    std::atomic<PacketNode*> packets_head;
    PacketNode* packets_tail;
    // -1 when the slot has no stream. The media thread sets codec first and
    // then publishes the index with release ordering.
    std::atomic<int32_t> stream_index;
    AVCodecContext* codec; // the stream's decoding context while open
    FrameEntry frames[FRAME_RING_SIZE];
    std::atomic<uint32_t> frames_write; // decoder thread
    std::atomic<uint32_t> frames_read;  // presentation thread
    AVPacket* pending_packet;           // the packet the decoder is working through
};

enum SlotKind { SLOT_VIDEO = 0, SLOT_AUDIO = 1, SLOT_SUBTITLE = 2, SLOT_COUNT = 3 };

// The hand-over ring shared by all streams: written by the demux loop, read
// by the decoder thread. Holds at most 15 packets.
struct PacketRing {
    PacketNode* entries[RING_SIZE];
    // Copy of each entry's stream index, so the media thread can scan entries
    // that the decoder may be consuming and freeing at the same time.
    int32_t entry_stream[RING_SIZE];
    std::atomic<uint32_t> ring_write; // demux loop
    std::atomic<uint32_t> ring_read;  // decoder thread
};

// --- packets ---
PacketNode* packet_node_new(std::atomic<int32_t>* packets_in_flight);
// Releases the node at the head of the slot's list.
void packet_node_release(StreamSlot* slot, std::atomic<int32_t>* packets_in_flight);
bool ring_is_empty(const PacketRing* ring);
bool ring_is_full(const PacketRing* ring);
// Publishes the spare node at ring_write and returns a fresh spare. The
// caller has seen that the ring is not full and passes (ring_write + 1) & 15.
PacketNode* ring_push(PlayerContext* ctx, PacketNode* spare, std::atomic<int32_t>* packets_in_flight,
                      uint32_t next_write);
// Publishes a node that already holds its packet (the demux loop's packets
// read during a seek); the caller has seen that the ring is not full.
void ring_push_node(PlayerContext* ctx, PacketNode* node);
// Decoder side: moves the entry at ring_read to the list of the slot playing
// its stream (released when no slot plays it) and returns that slot's index,
// or -1 when the ring is empty or the packet belongs to no slot.
int ring_move_to_slot(PlayerContext* ctx);
void slot_append_packet(StreamSlot* slot, PacketNode* node);

// --- frames ---
uint32_t frames_waiting(const StreamSlot* slot);
bool frame_ring_has_room(const StreamSlot* slot);
void frame_ring_init(StreamSlot* slot); // allocates the eight frames
void frame_ring_unref_all(StreamSlot* slot);
// Discards the frame at frames_read while keeping the current picture; the
// caller then advances frames_read.
void frame_take_swap(StreamSlot* slot);
// Index of the entry holding the current picture (the one taken last).
inline uint32_t current_frame_index(const StreamSlot* slot)
{
    return (slot->frames_read.load(std::memory_order_relaxed) - 1) & FRAME_RING_MASK;
}

// --- bringing the pipeline to rest ---
void flush_frames(PlayerContext* ctx, int with_audio);
void drain_slot(PlayerContext* ctx, StreamSlot* slot);
