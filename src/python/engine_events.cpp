// Engine's event and sidereal methods (rise_set_transit, next_horizon_event,
// next_season_event, next_lunation, sidereal_position).
#include "python/engine_events.hpp"

#include "python/engine.hpp"

namespace tarvex::python {

PyMethodDef ENGINE_EVENT_METHODS[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::python
