#!/usr/bin/env python3
"""Splits a perf profile of pel_profile_records into the phases of one call.

    perf record --call-graph dwarf -o P.data build/.../pel_profile_records encode IN 3
    perf script -i P.data -F ip,sym | bench/perf_phases.py encode

For the vector functions, profile pel_bench_vectors with a --benchmark_filter
and pass the exported name: encode_vector, decode_vector, or for pellib and
libpel_linux "encode --vector" / "decode --vector".

Only samples taken inside the exported function (encode or decode) count; each
is charged to the outermost phase its stack passes through, and inside the
record codec to the outermost step of the per-record work. Inlined functions
have no frame of their own and are charged to their caller.
"""
import collections
import sys

TOP = [  # (phase, substrings of a frame), tried from the root of the stack down
    ("copy input text (text_argument)", ["boundary::text_argument"]),
    ("nesting-depth scan of input", ["require_json_depth"]),
    ("parse input text", ["parse_records_to_", "detail::parser<"]),
    ("record codec", ["Pelmora::Pelmo::encode", "Pelmora::Pelmo::decode"]),
    ("dump + copy output (to_output_buffer)", ["to_output_buffer"]),
    ("destroy JSON documents", ["~basic_json", "json_value::destroy"]),
    ("build codec (Pelmo ctor)", ["Pelmora::Pelmo::Pelmo", "make_codec"]),
]

CODEC = [
    ("seal meta: zlib deflateEnd (frees the state)", [("AES_CBC::encrypt", "deflateEnd")]),
    ("seal meta: zlib deflateInit (allocates the state)", [("AES_CBC::encrypt", "deflateInit")]),
    ("seal meta: zlib deflate", [("AES_CBC::encrypt", "compress")]),
    ("seal meta: random_device + mt19937", [("AES_CBC::encrypt", "random_device")]),
    ("seal meta: AES", [("AES_CBC::encrypt", "plusaes")]),
    ("seal meta: base64", [("AES_CBC::encrypt", "base64")]),
    ("seal meta: other", ["AES_CBC::encrypt"]),
    ("open meta: zlib inflateEnd", [("AES_CBC::decrypt", "inflateEnd")]),
    ("open meta: zlib inflateInit", [("AES_CBC::decrypt", "inflateInit")]),
    ("open meta: zlib inflate", [("AES_CBC::decrypt", "uncompress")]),
    ("open meta: AES", [("AES_CBC::decrypt", "plusaes")]),
    ("open meta: base64", [("AES_CBC::decrypt", "base64")]),
    ("open meta: other", ["AES_CBC::decrypt"]),
    ("cipher setup (AES_CBC ctor)", ["AES_CBC::AES_CBC"]),
    ("meta: parse opened text", [("detail::parser<", "require_json_depth")]),
    ("meta: dump", ["::dump("]),
    ("read vector (json -> doubles)", ["read_vector"]),
    ("vector -> json array", ["to_array"]),
    ("matrix build", [("get_matrix", "build_matrix")]),
    ("matrix inverse", ["invertMatrix"]),
    ("sparse product", ["Pelmora::multiply"]),
    ("noise", ["blend", "remove_noise", "noise_vector", "solve_noise_root"]),
    ("similarity", ["calculate_similarity"]),
    ("ranking sort", ["stable_sort", "__merge_adaptive", "__inplace_stable_sort", "__merge_sort"]),
    ("destroy JSON values", [("~basic_json", "json_value::destroy")]),
]


# For encode_vector / decode_vector and the earlier encode / decode: the stage
# (first match in this order) and, inside the matrix build, the step.
VECTOR_STAGES = [
    ("inverse", ["invertMatrix", "tridiagonal", "PartialPivLU", "inverse"]),
    ("matrix build", ["build_matrix", "get_matrix"]),
    ("noise vector", ["noise_vector"]),
    ("blend / remove noise", ["blend", "remove_noise", "solve_noise_root", "::solve"]),
    ("matrix * vector", ["Pelmora::multiply"]),
]
MATRIX_STEPS = [
    ("setFromTriplets", ["setFromTriplets", "with_entries"]),
    ("sparse * sparse", ["Pelmora::multiply"]),
    ("generator draws, cos/sin", ["Random", "sincos", "__cos", "__sin"]),
    ("scaling (coeffRef)", ["coeffRef", "insert"]),
]
KERNEL = ["__brk", "asm_exc_page_fault", "entry_SYSCALL", "pvm_irq_enable"]
ALLOC = ["malloc", "_int_free", "cfree", "__libc_free", "operator new", "operator delete", "sysmalloc",
         "systrim", "realloc"]


def first_match(path, rules):
    for name, needles in rules:
        if any(n in f for f in path for n in needles):
            return name
    return None


def samples(stream):
    frames = []
    for line in stream:
        line = line.strip()
        if not line:
            if frames:
                yield frames
            frames = []
        else:
            frames.append(line)
    if frames:
        yield frames


def classify(path, rules):
    """path: frames from the root down. A rule is (name, alternatives); an
    alternative is a substring, or a tuple of substrings that must match frames
    in that order going down. The rule matching nearest the root wins; on a tie
    the earlier rule."""
    best = None
    for name, alternatives in rules:
        for alt in alternatives:
            chain = alt if isinstance(alt, tuple) else (alt,)
            for i, frame in enumerate(path):
                if chain[0] not in frame:
                    continue
                j = i
                for needle in chain[1:]:
                    j = next((k for k in range(j, len(path)) if needle in path[k]), None)
                    if j is None:
                        break
                if j is not None and (best is None or i < best[0]):
                    best = (i, name)
                break
    return best


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "encode"
    total = 0
    top = collections.Counter()
    codec = collections.Counter()
    leaves = collections.defaultdict(collections.Counter)
    for frames in samples(sys.stdin):
        names = []
        for f in frames:  # "<address> <symbol>[ (inlined)]"
            head, _, rest = f.partition(" ")
            name = rest if rest and head.strip("0123456789abcdef") == "" else f
            names.append(name[: -len(" (inlined)")] if name.endswith(" (inlined)") else name)
        path = list(reversed(names))  # root first
        try:
            start = path.index(root)
        except ValueError:
            continue
        path = path[start + 1:]
        total += 1
        if root.endswith("_vector") or len(sys.argv) > 2 and sys.argv[2] == "--vector":
            stage = first_match(path, VECTOR_STAGES) or "other"
            if stage == "matrix build":
                stage += ": " + (first_match(path, MATRIX_STEPS) or "other")
            if any(k in f for f in path for k in KERNEL):
                kind = "kernel (heap growth, page faults, trims)"
            elif any(k in f for f in path for k in ALLOC):
                kind = "malloc / free"
            else:
                kind = "compute"
            top[stage] += 1
            codec[(stage, kind)] += 1
            continue
        hit = classify(path, TOP)
        phase = hit[1] if hit else "other"
        top[phase] += 1
        if phase == "record codec":
            codec_start = next(i for i, f in enumerate(path) if f.startswith("Pelmora::Pelmo::" + root))
            sub = classify(path[codec_start + 1:], CODEC)
            step = sub[1] if sub else "json record construction / copies / other"
            codec[step] += 1
            if not sub:
                leaves[step][names[0][:90]] += 1
        elif not hit:
            leaves["other"][names[0][:90]] += 1
    if total == 0:
        print("no samples inside", root)
        return
    print(f"{total} samples inside {root}()")
    for phase, n in top.most_common():
        print(f"  {100.0 * n / total:5.1f}%  {phase}")
        kinds = [(k[1], m) for k, m in codec.items() if isinstance(k, tuple) and k[0] == phase]
        for kind, m in sorted(kinds, key=lambda x: -x[1]):
            print(f"      {100.0 * m / total:5.1f}%  {kind}")
        if phase == "record codec":
            for step, m in codec.most_common():
                print(f"      {100.0 * m / total:5.1f}%  {step}")
    for group, counter in leaves.items():
        print(f"  leaf functions in '{group}':")
        for leaf, n in counter.most_common(8):
            print(f"      {100.0 * n / total:5.1f}%  {leaf}")


if __name__ == "__main__":
    main()
