// The one-pass route of the record-set calls held to the document route.
//
// Input: two bytes of arguments (routes_call.h), then the record-set text. The
// one-pass route must give the document route's output (an encoding after its
// sealed "meta" texts are opened, since each sealing draws a fresh IV; a
// decoding byte for byte) or its failure, type and message; it may decline
// only a text that does not begin as an array. A fault that throws inside the
// one-pass route therefore shows as a failure the document route does not
// give.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/routes_call.h"
#include "tests/route_compare.h"
#include "transform/pelmo.h"

using namespace pel_fuzz;

namespace {

std::string describe(const RoutesCall& call, const std::string& text) {
    return std::string(call.decode ? "decode" : "encode") + " version " + std::to_string(call.version) +
           " metric " + kRoutesSpaces[call.space_index] + " key " + kRoutesKeys[call.key_index] + " dim " +
           std::to_string(call.dim) + "\n text: " + text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const RoutesCall call = read_routes_call(in);
    std::string text = in.rest();
    // Hosts hand over NUL-terminated text, and the exported calls give both
    // routes the same characters up to the NUL.
    text.resize(std::char_traits<char>::length(text.c_str()));

    const Pelmora::Pelmo codec(kRoutesKeys[call.key_index], kRoutesSpaces[call.space_index], call.version, call.dim);
    pel_routes::Comparison c;
    if (call.decode) {
        // Exactly dim doubles on the heap, so a read past the query is caught.
        const HeapDoubles query(std::vector<double>(kRoutesQuery, kRoutesQuery + call.dim));
        c = pel_routes::compare_decode(codec, text, query.data());
    } else {
        c = pel_routes::compare_encode(codec, text);
    }
    PEL_FUZZ_CHECK(c.fault.empty(), c.fault + "\n" + describe(call, text));
    return 0;
}
