// A scripted host for EditorCore: pins held in a map, every write logged, "Waveform" writes
// reported back the way the host reports a changed value to the writing object.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor_core.h"

namespace tallisk::test {

class ScriptedUi : public EditorUi {
public:
    struct Box {
        std::string text, caption;
        MessageButtons buttons;
        MessageIcon icon;
    };
    MessageAnswer message_box(const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageIcon icon) override {
        boxes.push_back({text, caption, buttons, icon});
        if (!answers.empty()) {
            const MessageAnswer a = answers.front();
            answers.erase(answers.begin());
            return a;
        }
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    std::optional<std::string> open_file(const FileRequest& r) override { return choose(r, true); }
    std::optional<std::string> save_file(const FileRequest& r) override { return choose(r, false); }

    std::vector<Box> boxes;
    std::vector<MessageAnswer> answers;
    std::vector<std::pair<bool, FileRequest>> requests;  // (open?, request)
    std::vector<std::optional<std::string>> files;        // answers of the choosers, in order

private:
    std::optional<std::string> choose(const FileRequest& r, bool open) {
        requests.emplace_back(open, r);
        if (files.empty()) return std::nullopt;
        auto f = files.front();
        files.erase(files.begin());
        return f;
    }
};

class FakeEditor : public EditorCore {
public:
    explicit FakeEditor(EditorUi* ui = nullptr) : EditorCore(ui) {}

    std::map<int, std::string> texts;
    std::map<int, int32_t> ints;
    std::vector<std::pair<int, std::string>> writes;  // text writes in order
    std::vector<std::pair<int, int32_t>> int_writes;
    int repaints = 0;
    std::vector<std::pair<int, std::string>> audio_messages;
    std::string folder;

    // The host delivering a new text from outside (a wire or the patch).
    void deliver_text(int pin, const std::string& text) {
        texts[pin] = text;
        pin_changed(pin);
    }
    void deliver_int(int pin, int32_t value) {
        ints[pin] = value;
        pin_changed(pin);
    }
    std::vector<std::string> sent(int pin) const {
        std::vector<std::string> out;
        for (const auto& [p, t] : writes)
            if (p == pin) out.push_back(t);
        return out;
    }
    void clear_log() {
        writes.clear();
        int_writes.clear();
        repaints = 0;
    }

protected:
    void write_pin_text(int pin, const char* text) override {
        writes.emplace_back(pin, text);
        const bool changed = texts[pin] != text;
        texts[pin] = text;
        if (changed && pin == kPinTablePtr) pin_changed(pin);
    }
    std::string read_pin_text(int pin) override { return texts[pin]; }
    int32_t read_pin_int(int pin) override { return ints[pin]; }
    void write_pin_int(int pin, int32_t value) override {
        int_writes.emplace_back(pin, value);
        const bool changed = ints[pin] != value;
        ints[pin] = value;
        if (changed) pin_changed(pin);
    }
    void request_repaint() override { ++repaints; }
    void send_to_audio(int id, int length, const void* data) override {
        audio_messages.emplace_back(id, std::string(static_cast<const char*>(data), length).c_str());
    }
    std::string host_folder() override { return folder; }
};

}  // namespace tallisk::test
