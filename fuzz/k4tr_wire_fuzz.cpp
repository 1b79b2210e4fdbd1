// K4TR.dll's reading of the scanning service's answers: a response head, the
// JSON object of the body and its strings and base64 members.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    wire_head head;
    wire_parse_head(text, size, &head);
    wire_object object;
    if (wire_parse_object(text, size, &object) != 0) return 0;
    char out[256];
    for (int i = 0; i < object.count; ++i) {
        const wire_member& m = object.members[i];
        wire_string(&m, out, sizeof out);
        if (m.kind == WIRE_STRING) {
            std::vector<unsigned char> bytes(wire_base64_max(m.textLen) + 1);
            wire_base64(m.text, m.textLen, bytes.data(), bytes.size());
        }
    }
    return 0;
}
