// The user.DOSATTRIB codec on any bytes: no crash, no read outside the value
// (AddressSanitizer), and a record it accepts can be patched and read back
// with nothing else moved.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/posix/dosattrib.h"

using rivak::posix::DosAttrib;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<unsigned char> value(data, data + size);  // exact size: ASan sees any overread
    const auto parsed = rivak::posix::ParseDosAttrib(value);
    if (!parsed) return 0;

    if (parsed->form == DosAttrib::Form::Hex) {
        const std::string hex = rivak::posix::DosAttribHex(parsed->attributes);
        const std::vector<unsigned char> again(hex.begin(), hex.end());
        const auto reread = rivak::posix::ParseDosAttrib(again);
        if (!reread || reread->attributes != parsed->attributes) std::abort();
        return 0;
    }

    const std::uint32_t next = parsed->attributes ^ 0x3;
    const std::vector<unsigned char> patched = rivak::posix::PatchDosAttrib(value, *parsed, next);
    if (patched.size() != value.size()) std::abort();
    const auto reread = rivak::posix::ParseDosAttrib(patched);
    if (!reread || reread->attributes != next || reread->version != parsed->version) std::abort();
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool word = i >= parsed->attribOffset && i < parsed->attribOffset + 4;
        const bool digit = i >= parsed->digitOffset && i < parsed->digitOffset + parsed->digitCount;
        if (!word && !digit && patched[i] != value[i]) std::abort();
    }
    return 0;
}
