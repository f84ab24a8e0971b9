// Demonstration driver of libpel_arm64, exported as `main` for a host to look up;
// nothing in the library calls it.
#include <iostream>
#include <string>

#include "interface/demo.h"
#include "interface/guard.h"
#include "pel_arm64.h"
#include "records/document.h"
#include "transform/pelmo.h"

namespace {

const char* const kSampleRecords = R"([
    {"id": "1", "filter": {"doc_id": "1"}, "meta": {"name": "Mira"}, "vector": [0.2, 0.3, 0.4, 0.5, 0.6]},
    {"id": "1", "filter": {"doc_id": "1"}, "meta": {"name": "Tomas"}, "vector": [0.2, 0.3, 0.4, 0.3, 0.2]}
])";

// A vector encoded and decoded in place, the generator's draws, and a small
// record set encoded and decoded. The random vectors come from Eigen (std::rand,
// never seeded here, so one platform always prints the same ones).
void run_demo() {
    const std::string key = "7e41c09b2d5fa38816cb0e4f9a27d563";
    const std::string space = "COSINE";
    const int version = 1;
    const Pelmora::Pelmo vectors(key, space, version, 10);

    Pelmora::Vector v = Pelmora::Vector::Random(10);
    std::cout << "Original vector:" << std::endl << v << std::endl;
    vectors.encode_vector(v);
    std::cout << "Encoded vector:" << std::endl << v << std::endl;
    std::cout << "Encoding Done:" << std::endl;
    vectors.decode_vector(v);
    std::cout << "Decoded vector:" << std::endl << v << std::endl;
    std::cout << "Decoding done:" << std::endl;

    Pelmora::print_generator_demo();

    // Documents, so that running out of memory on the way cannot end the
    // host's process in their destruction (records/document.h).
    const Pelmora::Pelmo records(key, space, version, 5);
    const Pelmora::Document sample = Pelmora::parse_document(kSampleRecords);
    const Pelmora::Document encoded(records.encode(*sample));
    std::cout << "Encoded JSON:" << std::endl << encoded->dump(4) << std::endl;
    const Pelmora::Vector query = Pelmora::Vector::Random(5);
    const Pelmora::Document decoded(records.decode(*encoded, query));
    std::cout << "Decoded JSON:" << std::endl << decoded->dump(4) << std::endl;
}

}  // namespace

PEL_EXPORT int main() { return Pelmora::boundary::run_driver(run_demo); }
