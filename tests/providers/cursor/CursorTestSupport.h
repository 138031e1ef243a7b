#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrane::testing {

inline std::string base64Url(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += alphabet[(v >> shift) & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        if (i + 1 < bytes.size()) out += alphabet[(v >> 6) & 63];
    }
    return out;
}

// A JSON Web Token with `claims` as its payload (the signature is never checked by us).
inline std::string makeJwt(std::string_view claims) {
    return base64Url(R"({"alg":"HS256","typ":"JWT"})") + "." + base64Url(claims) +
           ".c2lnbmF0dXJlLW5vdC1jaGVja2Vk";
}

// The editor's state database with an ItemTable like the editor's; `token` is stored as
// text under the access-token key (a NULL value when `storeNull`), nothing when absent.
inline void makeStateDatabase(const std::filesystem::path& path,
                              const std::optional<std::string>& token, bool storeNull = false) {
    std::filesystem::create_directories(path.parent_path());
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    const auto exec = [&](const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            throw std::runtime_error(sql);
        }
    };
    exec("CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE, value BLOB);");
    exec("INSERT INTO ItemTable VALUES ('workbench.panel.position', '1');");
    if (token || storeNull) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO ItemTable VALUES ('cursorAuth/accessToken', ?);", -1,
                           &statement, nullptr);
        if (storeNull) {
            sqlite3_bind_null(statement, 1);
        } else {
            sqlite3_bind_text(statement, 1, token->data(), static_cast<int>(token->size()),
                              SQLITE_TRANSIENT);
        }
        sqlite3_step(statement);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
}

}  // namespace kestrane::testing
