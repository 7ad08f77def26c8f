#include "core/events.hpp"

namespace tarvex::core {

double target_longitude_deg(SeasonEvent event) noexcept {
  return 90.0 * static_cast<double>(static_cast<std::uint8_t>(event));
}

double target_elongation_deg(LunationEvent event) noexcept {
  return event == LunationEvent::NewMoon ? 0.0 : 180.0;
}

std::string_view display_name(HorizonEventKind kind) noexcept {
  switch (kind) {
    case HorizonEventKind::Rise: return "Rise";
    case HorizonEventKind::Set: return "Set";
    case HorizonEventKind::Transit: return "Transit";
  }
  return "Transit";
}

}  // namespace tarvex::core
