// A private sound server (PulseAudio with one null sink) for tests of the
// real sound path, and a recorder of what reaches the sink. The server can
// be frozen (SIGSTOP), thawed and restarted on the same socket, as a sound
// server stalls or restarts on a desktop.
#pragma once
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

struct SoundServer {
    std::string dir;     // runtime folder holding the socket
    std::string socket;  // unix socket path
    pid_t pid = -1;
    pid_t recorder = -1;
};

// Sets PULSE_SERVER and SDL_AUDIODRIVER for this process so that SDL plays
// through the server. Returns false when the server does not come up.
inline bool sound_server_start(SoundServer* s)
{
    if (s->dir.empty()) {
        char templ[] = "/tmp/mv-sound-XXXXXX";
        if (!mkdtemp(templ))
            return false;
        s->dir = templ;
        s->socket = s->dir + "/native";
    }
    setenv("XDG_RUNTIME_DIR", s->dir.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + s->socket).c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    s->pid = fork();
    if (s->pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::string native = "--load=module-native-protocol-unix socket=" + s->socket + " auth-anonymous=1";
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--disable-shm=yes", native.c_str(), "--load=module-null-sink sink_name=test_null", nullptr);
        _exit(127);
    }
    for (int i = 0; i < 200; i++) {
        if (system("pactl info >/dev/null 2>&1") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

inline void sound_server_signal(SoundServer* s, int signal_number)
{
    if (s->pid > 0)
        kill(s->pid, signal_number);
}

// Suspends or resumes the null sink, as a desktop does with an idle device.
inline void sound_server_suspend(SoundServer*, bool suspend)
{
    system(suspend ? "pactl suspend-sink test_null 1" : "pactl suspend-sink test_null 0");
}

inline void sound_server_stop(SoundServer* s)
{
    if (s->recorder > 0) {
        kill(s->recorder, SIGTERM);
        waitpid(s->recorder, nullptr, 0);
        s->recorder = -1;
    }
    if (s->pid > 0) {
        kill(s->pid, SIGCONT);
        kill(s->pid, SIGTERM);
        waitpid(s->pid, nullptr, 0);
        s->pid = -1;
    }
    unlink(s->socket.c_str());
}

// Records what the null sink plays (48 kHz, 2 channels, 16-bit) into path.
inline void sound_server_record(SoundServer* s, const std::string& path)
{
    s->recorder = fork();
    if (s->recorder == 0) {
        freopen(path.c_str(), "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("parec", "parec", "--device=test_null.monitor", "--raw", "--format=s16le", "--rate=48000",
               "--channels=2", "--latency-msec=20", nullptr);
        _exit(127);
    }
}

inline void sound_server_stop_recording(SoundServer* s)
{
    if (s->recorder > 0) {
        kill(s->recorder, SIGTERM);
        waitpid(s->recorder, nullptr, 0);
        s->recorder = -1;
    }
}

// Root mean square of each 100 ms of a recording made by sound_server_record.
inline std::vector<double> recording_loudness(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t window = 4800 * 2; // samples of both channels in 100 ms
    std::vector<double> out;
    const int16_t* samples = reinterpret_cast<const int16_t*>(bytes.data());
    size_t count = bytes.size() / 2;
    for (size_t start = 0; start + window <= count; start += window) {
        double sum = 0;
        for (size_t i = start; i < start + window; i++)
            sum += double(samples[i]) * samples[i];
        out.push_back(std::sqrt(sum / double(window)));
    }
    return out;
}
