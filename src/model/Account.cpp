#include "model/Account.h"

#include <cstdint>

namespace kestrane::model {

std::string storageName(const AccountKey& key) {
    std::string name(rawValue(key.provider));
    if (!key.isDefault()) name += "#" + key.id;
    return name;
}

std::optional<AccountKey> accountFromStorageName(std::string_view name) {
    const std::size_t hash = name.find('#');
    const auto provider = providerKindFromRawValue(name.substr(0, hash));
    if (!provider) return std::nullopt;
    if (hash == std::string_view::npos) return AccountKey{*provider, {}};
    const std::string_view id = name.substr(hash + 1);
    if (id.empty()) return std::nullopt;
    return AccountKey{*provider, std::string(id)};
}

Account defaultAccount(ProviderKind provider) { return Account{AccountKey{provider, {}}, {}}; }

std::string shownLabel(const Account& account, const std::optional<std::string>& reported) {
    if (account.labelChosen && !account.label.empty()) return account.label;
    if (reported && !reported->empty()) return *reported;
    return account.label;
}

std::string accountName(ProviderKind provider, std::string_view label) {
    std::string name(rawValue(provider));
    if (!label.empty()) {
        name += " (";
        name += label;
        name += ")";
    }
    return name;
}

std::string publicID(const AccountKey& key) {
    return key.isDefault() ? accountDigest(std::string(rawValue(key.provider)) + ":default")
                           : key.id;
}

std::string accountDigest(std::string_view source) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : source) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[hash & 0xF];
        hash >>= 4;
    }
    return text;
}

}  // namespace kestrane::model
