// tcpflash's standard error under "--events -": event lines, and now and
// then other text (a usage message). Bytes arrive in any pieces; the stream
// cuts them into lines and tells each event line from the rest.
#ifndef TCPFLASH_MANY_EVENT_STREAM_H_
#define TCPFLASH_MANY_EVENT_STREAM_H_

#include "many/event_line.h"

class EventSink {
 public:
  // line[0,length) (its line end included) is an event: a flat JSON object
  // with a string "event". Both are valid only during the call.
  virtual void OnEvent(const char* line, int length, const EventLine& event) = 0;
  // data[0,length) (length > 0) is not part of an event line: a whole line,
  // or a piece of one too long to be an event, in the order of the stream.
  virtual void OnOtherText(const char* data, int length) = 0;

 protected:
  ~EventSink() = default;
};

class EventStream {
 public:
  // Takes the next bytes data[0,size) of the stream and hands every line
  // they end to sink; the bytes of a line still open are kept (at most
  // EVENT_LINE_SIZE - 1 of them; a longer line is handed on as other text
  // as it comes).
  void Take(const char* data, int size, EventSink* sink);
  // The stream has ended: a line left without its end is other text.
  void Finish(EventSink* sink);

 private:
  // Hands line_[0,used_) to sink as an event or other text.
  void EndLine(EventSink* sink);

  char line_[EVENT_LINE_SIZE] = {};
  int used_ = 0;
  bool overlong_ = false;  // the open line outgrew line_ and went on as other text
};

#endif  // TCPFLASH_MANY_EVENT_STREAM_H_
