#pragma once
// How the reader tells its owner what happens: status lines, errors and progress,
// each either raised at once or held until its entry's turn comes.
#include <string>
#include <vector>

#include "zip/zip_reader.h"

namespace talvane::zipimpl {

// A status line (number 0) or an error, held until its entry's turn comes.
struct Event {
    long number;
    std::string text;
};

// True when any of `events` is an error.
bool ReportsError(const std::vector<Event>& events);

// i / total * 100, rounded to the nearest whole number, halves to even.
long RoundedPercent(long long i, long long total);

// Raises events at the owner's handlers, read at each call: they may be set or
// changed while an archive is open.
class Reporter {
  public:
    explicit Reporter(const ZipReader& owner) : owner_(owner) {}

    std::vector<Event>* held = nullptr;  // when set, events wait here for their turn

    void Status(const std::string& text);
    void Error(long number, const std::string& text);
    // Raises `events` in order (or holds them), then empties the list.
    void Raise(std::vector<Event>& events);
    // After `done` of `total` entries: the message loop runs, then Progress is told.
    // False when the owner cancelled.
    bool Advance(long long done, long long total);

  private:
    const ZipReader& owner_;
};

}  // namespace talvane::zipimpl
