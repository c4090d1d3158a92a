// The packet and frame queues between the demux loop, the decoder thread
// and the presentation thread (their records are in core/queue_types.h):
// the hand-over ring, the slots' packet lists, the frame rings, and the
// routines that bring the pipeline to rest.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/core.h"

// --- packets ---
PacketNode* packet_node_new(std::atomic<int32_t>* packets_in_flight);
// Frees a node that is in no list or ring.
void packet_node_free(PacketNode* node, std::atomic<int32_t>* packets_in_flight);
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

// --- bringing the pipeline to rest ---
void flush_frames(PlayerContext* ctx, int with_audio);
void drain_slot(PlayerContext* ctx, StreamSlot* slot);
