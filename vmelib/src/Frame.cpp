#include <cstring>

#include "KOVRAVMElib.h"

extern "C" {

KOVRAVME_API const char* KOVRAVME_DecodeError(ErrorCode code) {
    switch (code) {
        case Success:
            return "Success";
        case BusError:
            return "Bus error";
        case CommError:
            return "Communication error";
        case GenericError:
            return "Generic error";
        case InvalidParam:
            return "Invalid parameter";
        case TimeoutError:
            return "Timeout";
    }
    return "Unknown error";
}

KOVRAVME_API ErrorCode KOVRAVME_SWRelease(char* text) {
    if (text == nullptr) {
        return InvalidParam;
    }
    std::strcpy(text, "2.10");
    return Success;
}

}  // extern "C"
