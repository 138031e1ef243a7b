#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "history/UsageArchive.h"
#include "platform/Date.h"

namespace kestrane::history {

// Writes the archive's file form as JSON text directly: the archive is rewritten after every
// observation and can hold a couple of hundred thousand samples, far more than is worth
// building a document tree for.
class ArchiveWriter {
  public:
    // The whole archive. Throws std::domain_error for a non-finite number.
    static std::string write(const UsageArchive& archive);

  private:
    explicit ArchiveWriter(std::string& out) : out_(out) {}

    void series(const UsageSeries& series);
    void rhythm(const RhythmHistory& rhythm);
    void transition(const UsageTransition& transition);

    void raw(std::string_view text) { out_.append(text); }
    void string(std::string_view text);
    void key(std::string_view name) {
        string(name);
        out_.push_back(':');
    }
    void number(double value);
    void integer(std::int64_t value);
    void date(platform::Date value) { number(value.secondsSinceReferenceDate()); }
    void boolean(bool value) { out_.append(value ? "true" : "false"); }

    std::string& out_;
};

}  // namespace kestrane::history
