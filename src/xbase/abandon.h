// Giving up what is running once the user has been told why (a printout
// that cannot be made, say). xb::Abandon unwinds like a break, but it is no
// failure: it derives from no std::exception, so that nothing turns it into
// a runtime error on its way, and no handler shows or logs it again.
// Whoever started the user's action catches it and goes back to where the
// user was.
#pragma once

#include <string>

namespace xb {

class Abandon {
  public:
    // `why`: the reason as the user was told it, in Windows-1252.
    explicit Abandon(std::string why) : why_(std::move(why)) {}
    const std::string& why() const { return why_; }

  private:
    std::string why_;
};

}  // namespace xb
