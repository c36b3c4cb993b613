#include "many/event_line.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of hex digit c, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SameKey(const EventField& field, const char* key, int keyLength) {
  return field.keyLength == keyLength &&
         std::memcmp(field.key, key, static_cast<size_t>(keyLength)) == 0;
}

}  // namespace

void EventLine::SkipSpace() {
  while (at_ < length_ &&
         (line_[at_] == ' ' || line_[at_] == '\t' || line_[at_] == '\r' || line_[at_] == '\n')) {
    ++at_;
  }
}

bool EventLine::TakeWord(const char* word) {
  const int n = static_cast<int>(std::strlen(word));
  if (length_ - at_ < n || std::memcmp(line_ + at_, word, static_cast<size_t>(n)) != 0) {
    return false;
  }
  at_ += n;
  return true;
}

int EventLine::ReadString(const char** text, int* length) {
  if (at_ >= length_ || line_[at_] != '"') return -1;
  ++at_;
  // Each decoded byte takes at least one byte of the line, and the line is
  // shorter than bytes_: no string can overrun it.
  char* out = bytes_ + used_;
  int n = 0;
  for (;;) {
    if (at_ >= length_) return -1;
    const unsigned char c = static_cast<unsigned char>(line_[at_++]);
    if (c == '"') break;
    if (c < 0x20 || c > 0x7E) return -1;
    if (c != '\\') {
      out[n++] = static_cast<char>(c);
      continue;
    }
    if (at_ >= length_) return -1;
    const char e = line_[at_++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out[n++] = e;
        break;
      case 'b':
        out[n++] = '\b';
        break;
      case 'f':
        out[n++] = '\f';
        break;
      case 'n':
        out[n++] = '\n';
        break;
      case 'r':
        out[n++] = '\r';
        break;
      case 't':
        out[n++] = '\t';
        break;
      case 'u': {
        if (length_ - at_ < 4) return -1;
        int code = 0;
        for (int i = 0; i < 4; ++i) {
          const int digit = HexValue(line_[at_++]);
          if (digit < 0) return -1;
          code = code * 16 + digit;
        }
        // Bytes are written as their Latin-1 code points; nothing above.
        if (code > 0xFF) return -1;
        out[n++] = static_cast<char>(code);
        break;
      }
      default:
        return -1;
    }
  }
  *text = out;
  *length = n;
  used_ += n;
  return 0;
}

int EventLine::ReadNumber(EventField* field) {
  const int begin = at_;
  if (at_ < length_ && line_[at_] == '-') ++at_;
  if (at_ >= length_ || !IsDigit(line_[at_])) return -1;
  if (line_[at_] == '0') {
    ++at_;
  } else {
    while (at_ < length_ && IsDigit(line_[at_])) ++at_;
  }
  bool integral = true;
  if (at_ < length_ && line_[at_] == '.') {
    integral = false;
    ++at_;
    if (at_ >= length_ || !IsDigit(line_[at_])) return -1;
    while (at_ < length_ && IsDigit(line_[at_])) ++at_;
  }
  if (at_ < length_ && (line_[at_] == 'e' || line_[at_] == 'E')) {
    integral = false;
    ++at_;
    if (at_ < length_ && (line_[at_] == '+' || line_[at_] == '-')) ++at_;
    if (at_ >= length_ || !IsDigit(line_[at_])) return -1;
    while (at_ < length_ && IsDigit(line_[at_])) ++at_;
  }
  const int n = at_ - begin;
  if (n >= EVENT_NUMBER_SIZE) return -1;
  char text[EVENT_NUMBER_SIZE];
  std::memcpy(text, line_ + begin, static_cast<size_t>(n));
  text[n] = '\0';
  field->type = JsonType::kNumber;
  field->number = std::strtod(text, nullptr);
  field->integral = false;
  if (integral) {
    // Digits of a long long: 18 always fit.
    const bool negative = text[0] == '-';
    const int digits = negative ? n - 1 : n;
    if (digits <= 18) {
      field->integral = true;
      field->integer = std::strtoll(text, nullptr, 10);
    }
  }
  return 0;
}

int EventLine::ReadValue(EventField* field) {
  if (at_ >= length_) return -1;
  const char c = line_[at_];
  if (c == '"') {
    field->type = JsonType::kString;
    return ReadString(&field->text, &field->length);
  }
  if (c == '-' || IsDigit(c)) return ReadNumber(field);
  if (TakeWord("true")) {
    field->type = JsonType::kTrue;
  } else if (TakeWord("false")) {
    field->type = JsonType::kFalse;
  } else if (TakeWord("null")) {
    field->type = JsonType::kNull;
  } else {
    return -1;  // objects and arrays too: events are flat
  }
  return 0;
}

int EventLine::ReadObject() {
  SkipSpace();
  if (at_ >= length_ || line_[at_] != '{') return -1;
  ++at_;
  SkipSpace();
  if (at_ < length_ && line_[at_] == '}') {
    ++at_;
    return 0;
  }
  for (;;) {
    if (count_ == EVENT_FIELDS_MAX) return -1;
    EventField field;
    if (ReadString(&field.key, &field.keyLength) != 0) return -1;
    for (int i = 0; i < count_; ++i) {
      if (SameKey(fields_[i], field.key, field.keyLength)) return -1;
    }
    SkipSpace();
    if (at_ >= length_ || line_[at_] != ':') return -1;
    ++at_;
    SkipSpace();
    if (ReadValue(&field) != 0) return -1;
    fields_[count_++] = field;
    SkipSpace();
    if (at_ >= length_) return -1;
    const char c = line_[at_++];
    if (c == '}') return 0;
    if (c != ',') return -1;
    SkipSpace();
  }
}

int EventLine::Parse(const char* line, int length) {
  line_ = line;
  length_ = length;
  at_ = 0;
  used_ = 0;
  count_ = 0;
  int result = -1;
  if (length >= 0 && length < EVENT_LINE_SIZE && ReadObject() == 0) {
    SkipSpace();
    if (at_ == length_) result = 0;
  }
  if (result != 0) count_ = 0;
  line_ = nullptr;
  return result;
}

const EventField* EventLine::Find(const char* key) const {
  const int keyLength = static_cast<int>(std::strlen(key));
  for (int i = 0; i < count_; ++i) {
    if (SameKey(fields_[i], key, keyLength)) return &fields_[i];
  }
  return nullptr;
}

bool EventLine::GetString(const char* key, const char** text, int* length) const {
  const EventField* field = Find(key);
  if (field == nullptr || field->type != JsonType::kString) return false;
  *text = field->text;
  *length = field->length;
  return true;
}

bool EventLine::StringIs(const char* key, const char* value) const {
  const char* text = nullptr;
  int length = 0;
  return GetString(key, &text, &length) && static_cast<size_t>(length) == std::strlen(value) &&
         std::memcmp(text, value, static_cast<size_t>(length)) == 0;
}

bool EventLine::GetInteger(const char* key, long long* value) const {
  const EventField* field = Find(key);
  if (field == nullptr || field->type != JsonType::kNumber || !field->integral) return false;
  *value = field->integer;
  return true;
}

bool EventLine::GetBool(const char* key, bool* value) const {
  const EventField* field = Find(key);
  if (field == nullptr || (field->type != JsonType::kTrue && field->type != JsonType::kFalse)) {
    return false;
  }
  *value = field->type == JsonType::kTrue;
  return true;
}
