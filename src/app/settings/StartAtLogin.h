#pragma once

namespace kestrane::app {

// Whether the program starts when the user logs in, and changing that.
class StartAtLogin {
  public:
    virtual ~StartAtLogin() = default;
    virtual bool isEnabled() const = 0;
    // Throws a platform::LocalizedError whose what() is the Russian sentence to show.
    virtual void setEnabled(bool enabled) const = 0;
};

}  // namespace kestrane::app
