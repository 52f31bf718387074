// `klp decode` against the program's own decoder: the shared capture run through klp gives the
// counter that capture holds (0/217) and, line for line, what CGenisysProtocol reports for the
// same bytes, also when the bytes come in on standard input.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "genisys/genisys_protocol.h"
#include "tests/support/recording_events.h"

namespace {

using Lines = std::vector<std::string>;

Lines RunKlp(const std::string &arguments)
{
    const std::string command = std::string(KLP_PATH) + " " + arguments;
    FILE *out = popen(command.c_str(), "r");
    Lines lines;
    if (out == nullptr)
        return lines;
    std::string line;
    for (int c; (c = std::fgetc(out)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    EXPECT_EQ(pclose(out), 0) << command;
    EXPECT_EQ(line, "") << "the last line has no line feed";
    return lines;
}

// What the program's decoder reports for the capture: every line, polls and acks included,
// then the counter as klp ends with it.
Lines ProgramLines(bool withPolls)
{
    std::ifstream in(KLP_CAPTURE_FILE, std::ios::binary);
    const std::vector<uint8_t> capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(capture.size(), 7362u);
    RecordingEvents events;
    CGenisysProtocol decoder(&events);
    decoder.OnReceive(capture.data(), static_cast<uint32_t>(capture.size()));
    Lines lines = events.TakeTexts(withPolls);
    lines.push_back("Polls/ACKs: " + events.CounterText());
    return lines;
}

TEST(KlpDecode, TheCaptureGivesTheProgramsLinesAndItsCounter)
{
    const struct {
        const char *arguments;
        bool polls;
    } cases[] = {
        {"decode --polls " KLP_CAPTURE_FILE, true},
        {"decode " KLP_CAPTURE_FILE, false},
        {"decode --polls - < " KLP_CAPTURE_FILE, true},
    };
    for (const auto &c : cases) {
        const Lines expected = ProgramLines(c.polls);
        ASSERT_EQ(expected.back(), "Polls/ACKs: 0/217");
        EXPECT_EQ(RunKlp(c.arguments), expected) << c.arguments;
    }
}

}  // namespace
