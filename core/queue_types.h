// The records of the packet and frame queues between the demux loop, the
// decoder thread and the presentation thread, as the player context embeds
// them. Each queue has one producer and one consumer, so none takes a lock:
// an index is written by one side only and published with release ordering;
// the other side reads it with acquire ordering. The functions that work on
// them live in queue/.
#pragma once
#include <atomic>
#include <cstdint>

struct AVPacket;
struct AVFrame;
struct AVCodecContext;

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

// Index of the entry holding the current picture (the one taken last).
inline uint32_t current_frame_index(const StreamSlot* slot)
{
    return (slot->frames_read.load(std::memory_order_relaxed) - 1) & FRAME_RING_MASK;
}
