#pragma once
// Reading `quorvel ls --json` back in tests: a small JSON reader for the flat
// entry objects it prints.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"

namespace quorvel::test {

struct LsEntry {
  std::string path, name, stateText, created, modified, accessed;  // times: empty for null
  int state = 0;
  uint64_t size = 0, id = 0, parentId = 0;
  bool unreadable = false;
};

struct LsListing {
  std::string disk, partition, fs, timeZone;
  bool complete = false;
  std::vector<LsEntry> entries;
  bool ok = false;
};

namespace detail {

class Reader {
 public:
  explicit Reader(const std::string& text) : t_(text) {}
  void Skip() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\n' || t_[p_] == '\r' || t_[p_] == '\t')) ++p_;
  }
  bool Eat(char c) {
    Skip();
    if (p_ < t_.size() && t_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  bool Peek(char c) {
    Skip();
    return p_ < t_.size() && t_[p_] == c;
  }
  bool String(std::string& out) {
    out.clear();
    if (!Eat('"')) return false;
    while (p_ < t_.size() && t_[p_] != '"') {
      char c = t_[p_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (p_ >= t_.size()) return false;
      char e = t_[p_++];
      if (e == 'u') {
        uint32_t cp = Hex4();
        if (cp >= 0xD800 && cp <= 0xDBFF && p_ + 6 <= t_.size() && t_[p_] == '\\' && t_[p_ + 1] == 'u') {
          p_ += 2;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
        }
        AppendUtf8(out, cp);
      } else {
        out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
      }
    }
    return Eat('"');
  }
  // true, false or null: the word's first letter, or 0 when none stands here.
  char Word() {
    Skip();
    for (const char* word : {"true", "false", "null"}) {
      const std::string w = word;
      if (t_.compare(p_, w.size(), w) == 0) {
        p_ += w.size();
        return w[0];
      }
    }
    return 0;
  }
  bool Number(uint64_t& out) {
    Skip();
    size_t start = p_;
    while (p_ < t_.size() && ((t_[p_] >= '0' && t_[p_] <= '9') || t_[p_] == '-')) ++p_;
    if (start == p_) return false;
    out = std::stoull(t_.substr(start, p_ - start));
    return true;
  }

 private:
  uint32_t Hex4() {
    uint32_t v = static_cast<uint32_t>(std::stoul(t_.substr(p_, 4), nullptr, 16));
    p_ += 4;
    return v;
  }
  const std::string& t_;
  size_t p_ = 0;
};

}  // namespace detail

inline LsListing ParseLsJson(const std::string& text) {
  LsListing out;
  detail::Reader r(text);
  if (!r.Eat('{')) return out;
  std::string key, value;
  while (!r.Peek('}')) {
    if (!r.String(key) || !r.Eat(':')) return out;
    if (key == "entries") {
      if (!r.Eat('[')) return out;
      while (!r.Peek(']')) {
        if (!r.Eat('{')) return out;
        LsEntry e;
        while (!r.Peek('}')) {
          std::string k;
          if (!r.String(k) || !r.Eat(':')) return out;
          uint64_t n = 0;
          if (r.Peek('"')) {
            std::string s;
            if (!r.String(s)) return out;
            if (k == "path")
              e.path = s;
            else if (k == "name")
              e.name = s;
            else if (k == "state_text")
              e.stateText = s;
            else if (k == "created")
              e.created = s;
            else if (k == "modified")
              e.modified = s;
            else if (k == "accessed")
              e.accessed = s;
          } else if (char word = r.Word()) {
            if (k == "unreadable") e.unreadable = word == 't';
          } else {
            if (!r.Number(n)) return out;
            if (k == "state")
              e.state = static_cast<int>(n);
            else if (k == "size")
              e.size = n;
            else if (k == "id")
              e.id = n;
            else if (k == "parent_id")
              e.parentId = n;
          }
          r.Eat(',');
        }
        r.Eat('}');
        out.entries.push_back(e);
        r.Eat(',');
      }
      r.Eat(']');
    } else if (char word = r.Word()) {
      if (key == "complete") out.complete = word == 't';
    } else {
      if (!r.String(value)) return out;
      if (key == "time_zone") out.timeZone = value;
      if (key == "disk")
        out.disk = value;
      else if (key == "partition")
        out.partition = value;
      else if (key == "fs")
        out.fs = value;
    }
    r.Eat(',');
  }
  out.ok = r.Eat('}');
  return out;
}

}  // namespace quorvel::test
