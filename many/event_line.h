// One line of tcpflash's event stream: a flat JSON object whose values are
// strings, numbers, true, false or null. The parser takes exactly what
// tcpflash's event writer writes and refuses the rest, so that a line that
// is cut, mangled or not an event at all is never taken for one.
#ifndef TCPFLASH_MANY_EVENT_LINE_H_
#define TCPFLASH_MANY_EVENT_LINE_H_

// Longest line taken, its line end included; a longer one is no event. It
// holds a start event naming an image path of the longest length the
// platform layer takes, every byte of it escaped.
constexpr int EVENT_LINE_SIZE = 8192;
// Most keys one object may have.
constexpr int EVENT_FIELDS_MAX = 32;
// Longest number text taken.
constexpr int EVENT_NUMBER_SIZE = 40;

enum class JsonType { kString, kNumber, kTrue, kFalse, kNull };

struct EventField {
  const char* key = nullptr;  // decoded key bytes, keyLength of them
  int keyLength = 0;
  JsonType type = JsonType::kNull;
  const char* text = nullptr;  // kString: the decoded bytes, length of them
  int length = 0;
  double number = 0;      // kNumber
  bool integral = false;  // kNumber without fraction or exponent, within long long
  long long integer = 0;  // its value when integral
};

class EventLine {
 public:
  // Parses line[0,length): optional JSON white space, one object, optional
  // white space (so a "\r\n" line end is taken too). Strings may use every
  // JSON escape; "\uXXXX" must name a code point up to 0xFF, which becomes
  // that one byte, as the event writer writes bytes 0x80-0xFF. Raw bytes
  // below 0x20 or above 0x7E inside a string, nested objects or arrays, a
  // key given twice, more than EVENT_FIELDS_MAX keys, length of
  // EVENT_LINE_SIZE or more and anything else that is not such an object
  // are refused. Reads only line[0,length). Returns 0, or -1 with no fields
  // left.
  int Parse(const char* line, int length);

  int count() const { return count_; }
  const EventField& field(int i) const { return fields_[i]; }

  // The field named key (a zero-terminated key), or null.
  const EventField* Find(const char* key) const;

  // The string named key as text[0,*length) (valid while this object lives
  // and is not parsed again). Returns false when there is none or it is no
  // string.
  bool GetString(const char* key, const char** text, int* length) const;
  // True when the string named key is exactly the zero-terminated value.
  bool StringIs(const char* key, const char* value) const;
  // The integral number named key. Returns false when there is none.
  bool GetInteger(const char* key, long long* value) const;
  // true or false named key. Returns false when there is neither.
  bool GetBool(const char* key, bool* value) const;

 private:
  // Reads one string from line_[at_] (its opening quote) into bytes_.
  // Returns 0 with *text, *length set, or -1.
  int ReadString(const char** text, int* length);
  // Reads one number from line_[at_] into field. Returns 0, or -1.
  int ReadNumber(EventField* field);
  // Reads one value into field. Returns 0, or -1.
  int ReadValue(EventField* field);
  // Reads the object from at_ into fields_. Returns 0, or -1.
  int ReadObject();
  void SkipSpace();
  // True when the bytes at at_ are word (and at_ moved past them).
  bool TakeWord(const char* word);

  const char* line_ = nullptr;
  int length_ = 0;
  int at_ = 0;
  // The decoded keys and strings: never longer than the line.
  char bytes_[EVENT_LINE_SIZE] = {};
  int used_ = 0;
  EventField fields_[EVENT_FIELDS_MAX];
  int count_ = 0;
};

#endif  // TCPFLASH_MANY_EVENT_LINE_H_
