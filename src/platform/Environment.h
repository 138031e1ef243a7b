#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// The process environment and the user's home folder.
class Environment {
  public:
    virtual ~Environment() = default;
    // nullopt when the variable is not set (an empty value is returned as such).
    virtual std::optional<std::string> value(std::string_view name) const = 0;
    virtual std::filesystem::path homeDirectory() const = 0;
};

class ProcessEnvironment final : public Environment {
  public:
    std::optional<std::string> value(std::string_view name) const override;
    // $HOME, else the password database entry of the current user.
    std::filesystem::path homeDirectory() const override;
};

// A fixed set of variables, for tests and for tools that build an environment by hand.
class MapEnvironment final : public Environment {
  public:
    MapEnvironment(std::map<std::string, std::string, std::less<>> variables,
                   std::filesystem::path home)
        : variables_(std::move(variables)), home_(std::move(home)) {}

    std::optional<std::string> value(std::string_view name) const override;
    std::filesystem::path homeDirectory() const override { return home_; }

  private:
    std::map<std::string, std::string, std::less<>> variables_;
    std::filesystem::path home_;
};

// Leading and trailing spaces, tabs, carriage returns and line feeds removed.
std::string trimmedWhitespace(std::string_view text);

}  // namespace kestrane::platform
