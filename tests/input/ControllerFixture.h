#pragma once

// What the controller tests share: a model, recording stand-ins, a small
// dictionary, and keys typed the way the IBus adapter hands them over.

#include "input/KeyEvent.h"
#include "input/Pinyin.h"
#include "input/VoiceInputController.h"
#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <memory>

namespace tellwire::testing {

inline KeyEvent keyDown(std::uint16_t code, const QString& characters, std::uint64_t flags = 0)
{
    KeyEvent event;
    event.keyCode = code;
    event.characters = characters;
    event.modifierFlags = flags;
    return event;
}

// A key with a character and no special code: letters, digits, punctuation.
inline KeyEvent charKey(QChar c, std::uint64_t flags = 0)
{
    return keyDown(KeyEvent::kOther, QString(c), flags);
}

inline KeyEvent space(std::uint64_t flags = 0) { return keyDown(KeyEvent::kSpace, QStringLiteral(" "), flags); }
inline KeyEvent returnKey() { return keyDown(KeyEvent::kReturn, QStringLiteral("\r")); }
inline KeyEvent escape() { return keyDown(KeyEvent::kEscape, QStringLiteral("\x1b")); }
inline KeyEvent backspace() { return keyDown(KeyEvent::kDelete, QStringLiteral("\b")); }

class ControllerTest : public ::testing::Test {
protected:
    // nihao as a whole and its pieces; "a" and "x" are no codes.
    static constexpr char kDictionary[] = "...\n"
                                          "拟好\tni hao\t5\n"
                                          "你好\tni hao\t10\n"
                                          "你\tni\t9\n"
                                          "泥\tni\t5\n"
                                          "好\thao\t9\n"
                                          "哈\tha\t5\n"
                                          "哦\to\t1\n";

    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    RecordingShell shell;
    RecordingClient client;
    RecordingCandidateWindow* window = nullptr;
    Pinyin dictionary = Pinyin::fromBytes(QByteArray(kDictionary));

    std::unique_ptr<VoiceInputController> makeController(TextClient* withClient,
                                                         const Pinyin* withDictionary = nullptr)
    {
        auto controller = std::make_unique<VoiceInputController>(
            state, &shell,
            [this] {
                auto made = std::make_unique<RecordingCandidateWindow>();
                window = made.get();
                return made;
            },
            nullptr, withDictionary ? withDictionary : &dictionary);
        controller->setClient(withClient);
        return controller;
    }

    static bool press(VoiceInputController& controller, const KeyEvent& event)
    {
        return controller.handle(&event);
    }

    // Types each character as its own key-down; true when every one was consumed.
    static bool type(VoiceInputController& controller, const QString& letters)
    {
        bool consumed = true;
        for (QChar c : letters)
            consumed = press(controller, charKey(c)) && consumed;
        return consumed;
    }
};

} // namespace tellwire::testing
