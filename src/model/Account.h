#pragma once

#include <compare>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderKind.h"

namespace kestrane::model {

// One sign-in of a provider. The default account is the one the provider's own tool uses when
// told nothing else (~/.claude, ~/.codex, the first github.com entry); its id is empty, so
// everything kept from before there were several (history series, what was notified) stays
// its own.
struct AccountKey {
    ProviderKind provider = ProviderKind::codex;
    std::string id;

    bool isDefault() const { return id.empty(); }
    auto operator<=>(const AccountKey&) const = default;
    bool operator==(const AccountKey&) const = default;
};

// The account's part of stored keys: the provider's raw value, then "#" and the id for any
// account but the default one ("Claude", "Claude#3f9a0c1e2b4d5a67").
std::string storageName(const AccountKey& key);
// The account of a storage name; nothing for anything else.
std::optional<AccountKey> accountFromStorageName(std::string_view name);

// An account as found on this machine.
struct Account {
    AccountKey key;
    // How it is told apart from the provider's other accounts before the provider names it:
    // the name the user gave, else the folder's suffix ("work" for ~/.claude-work) or the
    // login; for the default account the folder as the user writes it ("~/.claude").
    std::string label;
    // The configuration folder its tool reads (Claude's CLAUDE_CONFIG_DIR, Codex's CODEX_HOME),
    // for any account but a default one left where its tool looks by itself.
    std::optional<std::filesystem::path> folder;
    // The login among several in one sign-in file (GitHub Copilot).
    std::optional<std::string> login;
    // The user named it in the settings: that name wins over what the provider reports.
    bool labelChosen = false;

    bool operator==(const Account&) const = default;
};

// The account a provider's tool uses by default, as found before anything else is known.
Account defaultAccount(ProviderKind provider);

// The label an account is shown with: the user's name for it, else the e-mail or login the
// provider reported last (`reported`), else where it was found.
std::string shownLabel(const Account& account, const std::optional<std::string>& reported);

// "Claude (work)": the provider's name with the label, for a provider with several accounts.
std::string accountName(ProviderKind provider, std::string_view label);

// The id scripts see (`--probe --json`, `--status --json`): the account's own for any but the
// default account, whose own is empty; for that one a digest of the provider's name.
std::string publicID(const AccountKey& key);

// A stable, non-secret id for what is given (a folder's canonical path, a login): 16 lower-case
// hex digits of a 64-bit FNV-1a hash. Never empty.
std::string accountDigest(std::string_view source);

}  // namespace kestrane::model
