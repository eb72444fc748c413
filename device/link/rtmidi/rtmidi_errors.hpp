#pragma once
// How the RtMidi port back ends handle library errors. The error callback only records that an
// error happened, so no RtMidi object is closed from inside its own call; the operation that
// raised it (reported or thrown) then closes both ports once it has returned.

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <initializer_list>
#include <string>

#include "device/link/midi_ports.hpp"

namespace halvard {

class RtMidiErrors {
public:
    explicit RtMidiErrors(MidiPorts& ports) : ports_(ports) {}
    RtMidiErrors(const RtMidiErrors&) = delete;
    RtMidiErrors& operator=(const RtMidiErrors&) = delete;

    // Becomes the error callback of each object given (null ones are passed over).
    void installOn(std::initializer_list<RtMidi*> objects) {
        for (RtMidi* object : objects)
            if (object != nullptr) object->setErrorCallback(&RtMidiErrors::onError, this);
    }

    // Runs one RtMidi operation; whatever error it raised closes both ports once it has returned.
    template <class Operation>
    void call(Operation&& operation) {
        try {
            operation();
        } catch (...) {
            raised_ = true;
        }
        if (raised_.exchange(false)) {
            ports_.onMidiError();
            raised_ = false;  // closing the ports may report errors of its own
        }
    }

private:
    static void onError(RtMidiError::Type, const std::string&, void* self) {
        static_cast<RtMidiErrors*>(self)->raised_ = true;
    }

    MidiPorts& ports_;
    std::atomic<bool> raised_{false};
};

}  // namespace halvard
