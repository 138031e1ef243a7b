#include "history/UsageArchive.h"

#include "history/ArchiveEventReader.h"
#include "history/ArchiveWriter.h"
#include "history/PlainJsonScanner.h"
#include "platform/Json.h"

namespace kestrane::history {

using platform::Json;

std::string encodeArchive(const UsageArchive& archive) { return ArchiveWriter::write(archive); }

UsageArchive decodeArchive(std::string_view text) {
    {
        ArchiveEventReader reader;
        if (PlainJsonScanner(text, reader).run()) {
            if (auto archive = reader.finish()) return std::move(*archive);
        }
    }
    // Anything the quick path does not take, valid or not, is decided by the full parser.
    ArchiveEventReader reader;
    if (!Json::sax_parse(text, &reader)) throw platform::DecodingError();
    auto archive = reader.finish();
    if (!archive) throw platform::DecodingError();
    return std::move(*archive);
}

}  // namespace kestrane::history
