#include "many/event_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the stream hands on: events as "E:<line>", other text
// joined as it comes.
class Recorder final : public EventSink {
 public:
  void OnEvent(const char* line, int length, const EventLine& event) override {
    const char* kind = nullptr;
    int kindLength = 0;
    ASSERT_TRUE(event.GetString("event", &kind, &kindLength));
    events.emplace_back(line, static_cast<size_t>(length));
    kinds.emplace_back(kind, static_cast<size_t>(kindLength));
  }
  void OnOtherText(const char* data, int length) override {
    ASSERT_GT(length, 0);
    other.append(data, static_cast<size_t>(length));
  }
  std::vector<std::string> events;
  std::vector<std::string> kinds;
  std::string other;
};

void Feed(EventStream* stream, const std::string& bytes, size_t piece, Recorder* sink) {
  for (size_t at = 0; at < bytes.size(); at += piece) {
    stream->Take(bytes.data() + at, static_cast<int>(std::min(piece, bytes.size() - at)), sink);
  }
}

TEST(EventStreamTest, EventLinesAndOtherTextInAnyPieces) {
  const std::string usage = "tcpflash: unknown option --x\nusage: tcpflash [--image FILE]\n";
  const std::string start = "{\"t\":0.000,\"event\":\"start\",\"port\":7000}\n";
  const std::string progress =
      "{\"t\":0.200,\"event\":\"progress\",\"sent\":750,\"total\":1500}\r\n";
  // A JSON object without "event", or with a non-string one, is no event.
  const std::string noEvent = "{\"t\":0.3}\n{\"event\":1}\n";
  const std::string cut = "{\"t\":0.400,\"event\":\"resu";
  const std::string bytes = usage + start + progress + noEvent + cut;
  for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, bytes.size()}) {
    SCOPED_TRACE(piece);
    static EventStream stream;
    stream = EventStream();
    Recorder sink;
    Feed(&stream, bytes, piece, &sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{start, progress}));
    EXPECT_EQ(sink.kinds, (std::vector<std::string>{"start", "progress"}));
    const std::string other = usage + noEvent;
    EXPECT_EQ(sink.other, other);
    // An unended line at the end of the stream is never an event.
    stream.Finish(&sink);
    EXPECT_EQ(sink.other, other + cut);
    EXPECT_EQ(sink.events.size(), 2u);
  }
}

TEST(EventStreamTest, AnOverlongLineIsOtherTextWholeAndTheNextLineCountsAgain) {
  const std::string event = "{\"event\":\"phase\",\"phase\":\"sending\"}\n";
  // An event in form, but too long to be taken: it must not count.
  const std::string overlong =
      "{\"event\":\"result\",\"pad\":\"" + std::string(EVENT_LINE_SIZE, 'x') + "\"}\n";
  const std::string justFits =
      "{\"event\":\"mode\",\"pad\":\"" + std::string(EVENT_LINE_SIZE - 27, 'y') + "\"}\n";
  ASSERT_EQ(static_cast<int>(justFits.size()), EVENT_LINE_SIZE - 1);
  const std::string bytes = event + overlong + justFits + event;
  for (size_t piece : {size_t{1}, size_t{1000}, size_t{EVENT_LINE_SIZE}, bytes.size()}) {
    SCOPED_TRACE(piece);
    static EventStream stream;
    stream = EventStream();
    Recorder sink;
    Feed(&stream, bytes, piece, &sink);
    stream.Finish(&sink);
    EXPECT_EQ(sink.kinds, (std::vector<std::string>{"phase", "mode", "phase"}));
    EXPECT_EQ(sink.other, overlong);
  }
}

}  // namespace
