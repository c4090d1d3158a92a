// The display record: the frame buffer the presentation thread builds every
// picture in, the text context drawn over it and the picture scaler. Kept
// inside the player context; the functions that work on it live in render/.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

struct _cairo;
struct _cairo_surface;
struct _PangoLayout;
struct _PangoFontDescription;
struct SwsContext;
struct AVFrame;
struct OsdLayer;
struct GlPresenter;

// A rectangle of the client area, right and bottom exclusive.
struct OsdRect {
    int32_t left, top, right, bottom;
};

constexpr int32_t MAX_SNAPSHOTS = 16;
constexpr int32_t MAX_CLIENT_SIDE = 16384;

// A pending "--snapshot=MS:FILE.png": written once the first picture whose
// progress position is at least at_ms has been built.
struct SnapshotRequest {
    int32_t at_ms;
    std::atomic<int32_t> done;
    char path[4096];
};

struct FrameDisplay {
    // Client size as the window thread (or the headless loop) stored it last.
    std::atomic<int32_t> stored_width;
    std::atomic<int32_t> stored_height;

    // Presentation thread only from here on.
    int32_t client_width; // copied from the stored size at the start of every picture
    int32_t client_height;
    int32_t buffer_width;  // a multiple of 4
    int32_t buffer_height; // rows in use; one spare row lies below
    int64_t buffer_pitch;  // buffer_width * 4, a multiple of 16
    uint8_t* buffer_bits;  // 16-byte aligned, only ever grows
    bool buffer_lent;      // buffer_bits is the window's screen image, not ours to free
    uint8_t* picture_origin;

    // Text: a cairo RGB24 surface made over buffer_bits, one layout reused.
    _cairo_surface* surface;
    _cairo* cr;
    _PangoLayout* layout;
    _PangoFontDescription* osd_font;
    _PangoFontDescription* glyph_font;
    _PangoFontDescription* notice_font; // null until first needed
    _PangoFontDescription* current_font;
    int32_t notice_font_size;
    uint32_t text_colour; // 0xRRGGBB, green between drawings

    SwsContext* scaler;
    // A shrinking 4:2:0 picture is first scaled into shrunk_frame by
    // shrink_scaler; scaler then only converts it. Both null otherwise.
    SwsContext* shrink_scaler;
    AVFrame* shrunk_frame;
    int32_t scaler_key[5]; // source w, h, format, target w, h
    AVFrame* transfer_frame; // software copy of a hardware frame

    SnapshotRequest snapshots[MAX_SNAPSHOTS];
    std::atomic<int32_t> snapshot_count; // published with release after the entry

    // 1 when nobody ever looks at the pictures (a headless run without
    // snapshots or a copy target): the OSD text is left out, so no font is
    // loaded. Set before the first picture.
    std::atomic<int32_t> text_left_out;
    // The clock overlay's own pixels (premultiplied BGRA, the size of the
    // time's box), and what the presentation thread last did with it.
    uint8_t* clock_pixels; // 16-byte aligned, only ever grows
    int64_t clock_capacity_bytes;
    int32_t clock_on_screen;
    int32_t clock_frame_width; // the frame size the OSD renderer was given last
    int32_t clock_frame_height;
    OsdRect clock_box; // the box shown, grown to hold every time since; empty when hidden
    // ---- GPU presentation ----
    // Which presenter video pictures go to (RENDER_GPU_*): written before
    // the engine starts, and by the presentation thread when the GL path fails.
    std::atomic<int32_t> gpu_mode;
    // The platform window whose picture child the GL path draws into (the
    // window thread stores it once it exists).
    std::atomic<void*> picture_window;
    GlPresenter* gl;     // presentation thread; null until the GL path is used
    OsdLayer* layer;     // non-null while the overlays are drawn for the GL path
    int32_t layer_clean; // the buffer holds a clear layer (the CPU path has not drawn since)
    int32_t gl_drawing;  // the picture being built is the GL path's
    int32_t scaler_colour; // matrix and range the scaler was told about
};
