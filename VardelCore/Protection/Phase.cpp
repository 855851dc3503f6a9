#include "Phase.h"

namespace vardel {

Phase Phase::compute(Mode mode, const std::optional<std::string>& failure, bool fresh,
    std::optional<double> armedSince, double now, double warmup)
{
    if (failure)
        return Phase::failed(*failure);
    switch (mode) {
    case Mode::off:
        return of(Kind::off);
    case Mode::preview:
        return of(fresh ? Kind::preview : Kind::starting);
    case Mode::monitor:
        break;
    }
    bool warmedUp = armedSince && now - *armedSince >= warmup;
    return of(fresh && warmedUp ? Kind::monitoring : Kind::starting);
}

} // namespace vardel
