#include "system/system_reason.h"

namespace tessaryn {

std::string systemReason(int code) {
    return errnoReason(code);
}

}  // namespace tessaryn
