// A subtitle state of its own for each test, released at the end.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "subtitle/subtitle.h"

struct TestSubtitles {
    SubtitleState* state = new SubtitleState();
    TestSubtitles()
    {
        state->external_index.store(0);
        // The subtitle code never uses the OSD's library; tests need none.
        state->ass_library = nullptr;
    }
    ~TestSubtitles()
    {
        release_subtitles(state);
        free(state->external_files);
        delete state;
    }
    TestSubtitles(const TestSubtitles&) = delete;
    TestSubtitles& operator=(const TestSubtitles&) = delete;
};

inline std::vector<std::string> event_texts(const ASS_Track* track)
{
    std::vector<std::string> texts;
    for (int i = 0; track && i < track->n_events; i++)
        texts.push_back(track->events[i].Text ? track->events[i].Text : "");
    return texts;
}

// Writes bytes to a fresh file in the test's temporary folder; returns its path.
std::string write_temp_file(const char* name, const std::string& bytes);
