#include "many/event_stream.h"

#include <cstring>

void EventStream::EndLine(EventSink* sink) {
  if (used_ == 0) return;
  EventLine event;
  if (event.Parse(line_, used_) == 0 && event.Find("event") != nullptr &&
      event.Find("event")->type == JsonType::kString) {
    sink->OnEvent(line_, used_, event);
  } else {
    sink->OnOtherText(line_, used_);
  }
  used_ = 0;
}

void EventStream::Take(const char* data, int size, EventSink* sink) {
  int at = 0;
  while (at < size) {
    const void* found = std::memchr(data + at, '\n', static_cast<size_t>(size - at));
    const int end =
        found != nullptr ? static_cast<int>(static_cast<const char*>(found) - data) + 1 : size;
    const int n = end - at;
    if (overlong_) {
      sink->OnOtherText(data + at, n);
    } else if (used_ + n < EVENT_LINE_SIZE) {
      std::memcpy(line_ + used_, data + at, static_cast<size_t>(n));
      used_ += n;
    } else {
      // No event is this long: what came of the line so far and the rest
      // go on as they are.
      overlong_ = true;
      if (used_ > 0) sink->OnOtherText(line_, used_);
      used_ = 0;
      sink->OnOtherText(data + at, n);
    }
    if (found != nullptr) {
      if (!overlong_) EndLine(sink);
      overlong_ = false;
    }
    at = end;
  }
}

void EventStream::Finish(EventSink* sink) {
  if (used_ > 0) sink->OnOtherText(line_, used_);
  used_ = 0;
  overlong_ = false;
}
