// winmm_probe.exe: a bare WinMM client for the Wine MIDI driver's tests, driven from the Linux side.
// One command a line on standard input, one reply line each ("ok ..." or "error <MMRESULT>"); what
// the driver calls back with comes as lines of its own. Bytes are compact hex ("F0000BF7").
//   names                    ok in="<name>","<name>"... out="<name>",...
//   open-out I | close-out | reset-out | short HEX (up to 3 bytes) | long HEX
//   open-in I SIZE COUNT     COUNT buffers of SIZE bytes, added again after each use, as RtMidi does
//   start | stop | reset-in | close-in
//   unprepare                unprepares a buffer still queued
// Callbacks: "opened in|out", "closed in|out", "done" (MOM_DONE), "data HEX" (MIM_DATA, the
// message's bytes), "long HEX" (MIM_LONGDATA, the bytes recorded; "long -" for none).
#include <windows.h>
// mmsystem.h needs the types of windows.h first.
#include <mmsystem.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::mutex outputLock;
HMIDIIN in = nullptr;
HMIDIOUT out = nullptr;
std::vector<std::vector<char>> storage;
std::vector<MIDIHDR> headers;
bool requeue = true;

void say(const std::string& line) {
    std::lock_guard lock(outputLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string hex(const unsigned char* bytes, size_t n) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::vector<unsigned char> bytesOf(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string result(MMRESULT r) {
    return r == MMSYSERR_NOERROR ? "ok" : "error " + std::to_string(r);
}

std::string narrow(const wchar_t* wide) {
    char text[64] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

void CALLBACK onInput(HMIDIIN handle, UINT message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) {
    if (message == MIM_OPEN) say("opened in");
    if (message == MIM_CLOSE) say("closed in");
    if (message == MIM_DATA) {
        unsigned char bytes[3] = {static_cast<unsigned char>(p1), static_cast<unsigned char>(p1 >> 8),
                                  static_cast<unsigned char>(p1 >> 16)};
        const size_t n = bytes[0] >= 0xF8 || bytes[0] == 0xF6 ? 1 : (bytes[0] & 0xE0) == 0xC0 ? 2 : 3;
        say("data " + hex(bytes, n));
    }
    if (message == MIM_LONGDATA) {
        auto* header = reinterpret_cast<MIDIHDR*>(p1);
        const DWORD n = header->dwBytesRecorded;
        say("long " + (n ? hex(reinterpret_cast<unsigned char*>(header->lpData), n) : std::string("-")));
        if (n > 0 && requeue) midiInAddBuffer(handle, header, sizeof(MIDIHDR));
    }
}

void CALLBACK onOutput(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message == MOM_OPEN) say("opened out");
    if (message == MOM_CLOSE) say("closed out");
    if (message == MOM_DONE) say("done");
}

std::string run(const std::string& line) {
    std::istringstream words(line);
    std::string verb, arg;
    words >> verb;
    if (verb == "names") {
        std::string reply = "ok in=";
        for (UINT i = 0; i < midiInGetNumDevs(); ++i) {
            MIDIINCAPSW caps{};
            midiInGetDevCapsW(i, &caps, sizeof caps);
            reply += (i ? ",\"" : "\"") + narrow(caps.szPname) + "\"";
        }
        reply += " out=";
        for (UINT i = 0; i < midiOutGetNumDevs(); ++i) {
            MIDIOUTCAPSW caps{};
            midiOutGetDevCapsW(i, &caps, sizeof caps);
            reply += (i ? ",\"" : "\"") + narrow(caps.szPname) + "\"";
        }
        return reply;
    }
    if (verb == "open-out") {
        UINT index = 0;
        words >> index;
        return result(midiOutOpen(&out, index, reinterpret_cast<DWORD_PTR>(&onOutput), 0, CALLBACK_FUNCTION));
    }
    if (verb == "close-out") return result(midiOutClose(out));
    if (verb == "reset-out") return result(midiOutReset(out));
    if (verb == "short") {
        words >> arg;
        const std::vector<unsigned char> b = bytesOf(arg);
        DWORD packed = 0;
        for (size_t i = 0; i < b.size() && i < 3; ++i) packed |= static_cast<DWORD>(b[i]) << (8 * i);
        return result(midiOutShortMsg(out, packed));
    }
    if (verb == "long") {
        words >> arg;
        std::vector<unsigned char> b = bytesOf(arg);
        MIDIHDR header{};
        header.lpData = reinterpret_cast<LPSTR>(b.data());
        header.dwBufferLength = static_cast<DWORD>(b.size());
        MMRESULT r = midiOutPrepareHeader(out, &header, sizeof header);
        if (r == MMSYSERR_NOERROR) r = midiOutLongMsg(out, &header, sizeof header);
        while (midiOutUnprepareHeader(out, &header, sizeof header) == MIDIERR_STILLPLAYING) Sleep(1);
        return result(r);
    }
    if (verb == "open-in") {
        UINT index = 0, size = 0, count = 0;
        words >> index >> size >> count;
        MMRESULT r = midiInOpen(&in, index, reinterpret_cast<DWORD_PTR>(&onInput), 0, CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR) return result(r);
        storage.assign(count, std::vector<char>(size));
        headers.assign(count, MIDIHDR{});
        requeue = true;
        for (UINT i = 0; i < count && r == MMSYSERR_NOERROR; ++i) {
            headers[i].lpData = storage[i].data();
            headers[i].dwBufferLength = size;
            headers[i].dwUser = i;
            r = midiInPrepareHeader(in, &headers[i], sizeof(MIDIHDR));
            if (r == MMSYSERR_NOERROR) r = midiInAddBuffer(in, &headers[i], sizeof(MIDIHDR));
        }
        return result(r);
    }
    if (verb == "start") return result(midiInStart(in));
    if (verb == "stop") return result(midiInStop(in));
    if (verb == "reset-in") {
        requeue = false;  // as RtMidi does while closing: the buffers come back and stay back
        return result(midiInReset(in));
    }
    if (verb == "unprepare") {
        for (MIDIHDR& h : headers)
            if (h.dwFlags & MHDR_INQUEUE) return result(midiInUnprepareHeader(in, &h, sizeof h));
        return "error no queued buffer";
    }
    if (verb == "close-in") {
        for (MIDIHDR& h : headers) midiInUnprepareHeader(in, &h, sizeof h);
        return result(midiInClose(in));
    }
    return "error unknown command " + verb;
}

}  // namespace

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        say(run(line));
    }
    return 0;
}
