#include "virtual_amp.hpp"

#include <gtest/gtest.h>

#include "editor_messages.hpp"

namespace halvard::emulator {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::irImage;

// Feeds messages in order; returns every reply and keeps the last outcome's reports.
std::vector<Bytes> feed(VirtualAmp& amp, const std::vector<Bytes>& messages,
                        std::vector<std::string>* reports = nullptr) {
    std::vector<Bytes> replies;
    for (const Bytes& m : messages) {
        AmpOutcome o = amp.receive(m);
        replies.insert(replies.end(), o.replies.begin(), o.replies.end());
        if (reports) reports->insert(reports->end(), o.reports.begin(), o.reports.end());
    }
    return replies;
}

TEST(VirtualAmp, ASettingsWriteIsReadBackByteForByteAndSelectsTheProgram) {
    VirtualAmp amp;
    const Bytes write{0xF0, 0x00, 0x01, 0x2A, 0x25, 1,    0x21, 0x11, 0x10,
                      2,    1,    1,    0x10, 0x32, 0x13, 0x0B, 0xF7};
    EXPECT_TRUE(amp.receive(write).replies.empty()) << "a settings write is not answered";
    EXPECT_EQ(amp.state.program, 0x2A);

    const std::vector<Bytes> replies = feed(amp, {{0xF0, 0x00, 0x02, 0x2A, 0xF7}});
    ASSERT_EQ(replies.size(), 1u);
    Bytes expected(write.begin(), write.end() - 1);
    expected[2] = 0x02;
    expected.push_back(0x00);  // reserved byte 16
    expected.push_back(0xF7);
    EXPECT_EQ(replies[0], expected);

    EXPECT_EQ(feed(amp, {{0xF0, 0x00, 0x02, 0x05, 0xF7}})[0][4], 0x25) << "globals are global";
    EXPECT_EQ(amp.state.program, 5) << "a settings read selects the program too";
}

TEST(VirtualAmp, PresetStoreAnswersWithANoticeForTheCurrentProgram) {
    VirtualAmp amp;
    feed(amp, {{0xF0, 0x00, 0x02, 0x11, 0xF7}});
    const std::vector<Bytes> replies = feed(amp, {{0xF0, 0x00, 0x0A, 0xF7}});
    EXPECT_EQ(replies, (std::vector<Bytes>{{0xF0, 0x00, 0x03, 0x11, 0xF7}}));
    EXPECT_EQ(amp.state.presetStores, 1);
}

TEST(VirtualAmp, KeepsAnEditOnlyWhenStoredAndCanAlterAStore) {
    Bytes write{0xF0, 0x00, 0x01, 0x03, 0x25, 1, 0x21, 0x11, 0x10, 2, 1, 1, 0x10, 0x32, 0x13, 0x0B, 0xF7};
    const Bytes store{0xF0, 0x00, 0x0A, 0xF7};
    VirtualAmp amp;
    const ProgramRecord before = amp.state.records[3];
    feed(amp, {write, {0xF0, 0x00, 0x02, 0x04, 0xF7}});
    EXPECT_EQ(amp.state.records[3], before) << "an edit not stored is lost when another program is read";
    const std::vector<Bytes> replies =
        feed(amp, {write, store, {0xF0, 0x00, 0x02, 0x04, 0xF7}, {0xF0, 0x00, 0x02, 0x03, 0xF7}});
    EXPECT_EQ(replies.back()[5], 1) << "the stored edit is what program 3 reports";
    EXPECT_EQ(amp.state.records[3][0], 1);

    amp.faults.alterStoreOf = 3;
    write[5] = 0;
    feed(amp, {write, store});
    EXPECT_EQ(amp.state.records[3][0], 1) << "the altered store keeps loop bypass flipped";

    // A program file plays like the editor's messages; anything else in it is refused.
    AmpState played = factoryState();
    write[5] = 0;
    Bytes file = write;
    file.insert(file.end(), store.begin(), store.end());
    EXPECT_EQ(playProgramFile(played, file), "");
    EXPECT_EQ(played.records[3][0], 0);
    EXPECT_EQ(played.presetStores, 0);
    file.insert(file.end(), {0xF0, 0x00, 0x0B, 0xF7});
    EXPECT_NE(playProgramFile(played, file), "");
}

TEST(VirtualAmp, StoresAValidIrTransferAndReportsTheSlotUnderItsNumber) {
    VirtualAmp amp;
    const Bytes image = irImage(4096);  // 16428 bytes, 65 chunks, the last with 44 bytes
    const std::vector<Bytes> replies = feed(amp, testing::irTransfer(image, 2, "ROOM MIC"));
    ASSERT_EQ(replies.size(), 67u);
    for (size_t i = 0; i < 66; ++i) EXPECT_EQ(replies[i], acknowledgement()) << "reply " << i;
    EXPECT_EQ(replies[66], changeNotice(std::nullopt)) << "a notice follows the store's acknowledgement";

    ASSERT_TRUE(amp.state.irs[2]);
    EXPECT_EQ(amp.state.irs[2]->image, image);
    EXPECT_EQ(amp.state.slotNames[2], "2_ROOM MIC");
    EXPECT_EQ(feed(amp, {{0xF0, 0x00, 0x04, 0x02, 0xF7}})[0], slotNameReply(2, "2_ROOM MIC"));

    // The shortest image (no samples) is one chunk and still a valid store.
    feed(amp, testing::irTransfer(irImage(0), 5, std::string(64, 'X')));
    ASSERT_TRUE(amp.state.irs[5]);
    EXPECT_EQ(amp.state.slotNames[5], "5_" + std::string(62, 'X')) << "the reported name keeps 64 bytes";
}

TEST(VirtualAmp, RefusesBrokenIrTransfersWithoutAcknowledgingTheirStore) {
    const Bytes image = irImage(1000);  // 4044 bytes, 16 chunks
    struct Case {
        std::string what;
        std::vector<Bytes> messages;
    };
    std::vector<Case> cases;
    {
        auto m = testing::irTransfer(image, 1, "A");
        m.erase(m.begin() + 3);
        cases.push_back({"missing chunk", m});
    }
    {
        auto m = testing::irTransfer(image, 1, "A");
        m.insert(m.begin() + 4, m[3]);
        cases.push_back({"repeated chunk", m});
    }
    {
        auto m = testing::irTransfer(image, 1, "A");
        m.back() = testing::store(1, 4040, "A");
        cases.push_back({"stated size does not match the image", m});
    }
    {
        Bytes stereo = image;
        stereo[22] = 2;
        cases.push_back({"two channels", testing::irTransfer(stereo, 1, "A")});
    }
    {
        Bytes rate = image;
        rate[24] = 0x44;  // 44100 = 0xAC44
        rate[25] = 0xAC;
        cases.push_back({"44.1 kHz", testing::irTransfer(rate, 1, "A")});
    }
    {
        auto m = testing::irTransfer(image, 1, "A");
        m[15][7 + 2 * 250] = 0x01;  // a nibble past the end of the image in the last chunk
        cases.push_back({"padding not zero", m});
    }
    for (const Case& c : cases) {
        VirtualAmp amp;
        std::vector<std::string> reports;
        const std::vector<Bytes> replies = feed(amp, c.messages, &reports);
        EXPECT_FALSE(amp.state.irs[1]) << c.what;
        EXPECT_EQ(amp.state.slotNames[1], factoryState().slotNames[1]) << c.what;
        EXPECT_FALSE(reports.empty()) << c.what;
        EXPECT_LT(replies.size(), c.messages.size()) << c.what << ": the store must not be acknowledged";
    }

    // A transfer that starts over (the editor gave up on the first) is stored; the dropped one is noted.
    VirtualAmp amp;
    const std::vector<Bytes> transfer = testing::irTransfer(image, 3, "AGAIN");
    std::vector<Bytes> messages(transfer.begin(), transfer.begin() + 5);
    messages.insert(messages.end(), transfer.begin(), transfer.end());
    std::vector<std::string> reports;
    feed(amp, messages, &reports);
    EXPECT_TRUE(amp.state.irs[3]);
    EXPECT_EQ(reports.size(), 1u);
}

TEST(VirtualAmp, FirmwareTakesOverAtTheRestart) {
    VirtualAmp amp;
    const std::vector<Bytes> replies = feed(amp, testing::firmwareTransfer(testing::firmwareImage(2, 3)));
    EXPECT_EQ(replies.size(), 513u) << "512 chunks and the store acknowledged";
    EXPECT_EQ(amp.state.version, 0x0107) << "the old firmware runs until the restart";
    EXPECT_EQ(amp.state.pendingVersion, 0x0203);
    EXPECT_TRUE(amp.receive(Bytes{0xF0, 0x00, 0x0C, 0xF7}).restart);
    amp.restart();
    EXPECT_EQ(feed(amp, {{0xF0, 0x00, 0x0B, 0xF7}})[0], versionReply(0x0203));

    // One chunk short: refused, the version stays.
    VirtualAmp short_;
    auto messages = testing::firmwareTransfer(testing::firmwareImage(3, 0));
    messages.erase(messages.end() - 2);
    std::vector<std::string> reports;
    feed(short_, messages, &reports);
    short_.restart();
    EXPECT_EQ(short_.state.version, 0x0107);
    EXPECT_FALSE(reports.empty());
}

TEST(VirtualAmp, Faults) {
    VirtualAmp amp;
    amp.faults.stopAckAfter = 2;
    std::vector<Bytes> replies = feed(amp, testing::irTransfer(irImage(1000), 0, "X"));
    EXPECT_EQ(replies.size(), 2u) << "two chunks acknowledged, then silence including the store";
    replies = feed(amp, {testing::chunk(irImage(1000), 0)});
    EXPECT_EQ(replies.size(), 1u) << "a new transfer is acknowledged again";

    amp.faults = {};
    amp.faults.ignoreCode = 0x02;
    EXPECT_TRUE(feed(amp, {{0xF0, 0x00, 0x02, 0x00, 0xF7}}).empty());
    EXPECT_EQ(feed(amp, {{0xF0, 0x00, 0x0B, 0xF7}}).size(), 1u);

    amp.faults = {};
    amp.faults.hung = true;
    EXPECT_TRUE(feed(amp, {{0xF0, 0x00, 0x0B, 0xF7}}).empty());
    EXPECT_TRUE(amp.receive(Bytes{0xF0, 0x00, 0x0C, 0xF7}).restart) << "a hung amplifier still restarts";
    amp.restart();
    EXPECT_EQ(feed(amp, {{0xF0, 0x00, 0x0B, 0xF7}}).size(), 1u) << "and answers again after it";
}

TEST(VirtualAmp, MalformedCopiesFollowTheGenuineReplyAndBreakOneRuleEach) {
    VirtualAmp amp;
    amp.faults.malformed = kMalformedByte1 | kMalformedShort | kMalformedRange;
    const std::vector<Bytes> settings = feed(amp, {{0xF0, 0x00, 0x02, 0x04, 0xF7}});
    ASSERT_EQ(settings.size(), 4u);
    const Bytes& genuine = settings[0];
    EXPECT_EQ(genuine, settingsReply(4, amp.state.globals, amp.state.records[4]));
    EXPECT_EQ(settings[1][1], 0x01);
    for (size_t i = 4; i <= 15; ++i)
        EXPECT_NE(settings[1][i], genuine[i]) << "bogus copy differs at byte " << i;
    EXPECT_EQ(settings[2].size(), 13u) << "one byte below the 14 the editor wants";
    EXPECT_EQ(settings[3][3], 0x84) << "program above 127";

    const std::vector<Bytes> slot = feed(amp, {{0xF0, 0x00, 0x04, 0x01, 0xF7}});
    ASSERT_EQ(slot.size(), 4u);
    EXPECT_EQ(slot[2].size(), 69u);
    EXPECT_EQ(slot[3][4], 7) << "slot above 5";

    amp.faults.malformed = kMalformedStray;
    EXPECT_GT(feed(amp, {{0xF0, 0x00, 0x0B, 0xF7}}).size(), 2u);

    // A SysEx copy without its F7 would be joined to the genuine reply after it by the MIDI library.
    amp.faults.malformed = kMalformedAll;
    for (const Bytes& request : std::vector<Bytes>{
             {0xF0, 0x00, 0x0B, 0xF7}, {0xF0, 0x00, 0x02, 0x00, 0xF7}, {0xF0, 0x00, 0x04, 0x05, 0xF7}}) {
        for (const Bytes& m : feed(amp, {request})) {
            if (m.front() == 0xF0) {
                EXPECT_EQ(m.back(), 0xF7) << toHex(m);
            }
        }
    }
}

}  // namespace
}  // namespace halvard::emulator
