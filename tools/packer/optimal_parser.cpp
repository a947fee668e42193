#include "optimal_parser.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "match_finder.h"

namespace wq2::packer {
namespace {

// How the cheapest path reaches a position: the code that ends there. Literals
// have length 1 and distance 0.
struct Step {
    uint16_t length;
    uint16_t distance;
};

struct Workspace {
    std::vector<uint32_t> tables;
    std::vector<uint32_t> price;
    std::vector<Step> how;
    std::vector<Step> path;
};

}  // namespace

void EncodeOptimal(const uint8_t* data, size_t size, BlockCodeWriter& writer,
                   const OptimalParserOptions& options) {
    // Kept per thread: a payload holds thousands of small files, and fresh memory
    // for each would cost more than encoding them.
    thread_local Workspace work;
    TreeMatchFinder finder(data, size, options.maxDepth, work.tables, options.resetInterval);
    const size_t segment = std::clamp<size_t>(options.segmentSize, 1, std::max<size_t>(size, 1));
    const uint32_t nice = std::clamp<uint32_t>(options.niceLength, kMinLongLength, kMaxLongLength);
    constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();

    // price[i]: fewest bits that encode the segment's first i bytes; how[i]: the
    // last code of that encoding.
    if (work.price.size() < segment + 1) {
        work.price.resize(segment + 1);
        work.how.resize(segment + 1);
    }
    uint32_t* price = work.price.data();
    Step* how = work.how.data();
    std::vector<Step>& path = work.path;
    // At most one two-byte match and one per length from 3 to the longest.
    MatchCandidate matches[kMaxLongLength];

    size_t pos = 0;
    while (pos < size) {
        const size_t length = std::min(size - pos, segment);
        std::fill(price + 1, price + length + 1, kUnreached);
        price[0] = 0;

        // Shortest path over the positions of the segment, relaxing forwards. It
        // stops early at a match long enough to take without comparing.
        size_t end = length;
        MatchCandidate taken{0, 0};
        for (size_t i = 0; i < length; ++i) {
            const uint32_t base = price[i];
            if (base + kLiteralBits < price[i + 1]) {
                price[i + 1] = base + kLiteralBits;
                how[i + 1] = {1, 0};
            }
            size_t count = finder.FindAndInsert(pos + i, matches);
            if (count == 0) continue;
            if (matches[count - 1].length >= nice) {
                end = i;
                taken = matches[count - 1];
                break;
            }
            // Each length takes the closest distance that reaches it: the first
            // candidate at least that long. A length-2 candidate comes first when
            // there is one; without it there is no two-byte code to use. Costs as
            // in LongCodeBits, with the offset's part taken once per candidate.
            const size_t room = length - i;
            uint32_t len = kMinLongLength;
            size_t k = 0;
            if (matches[0].length == 2) {
                const uint32_t distance = matches[0].distance;
                if (room >= 2 && base + ShortCodeBits(distance) < price[i + 2]) {
                    price[i + 2] = base + ShortCodeBits(distance);
                    how[i + 2] = {2, uint16_t(distance)};
                }
                k = 1;
            }
            for (; k < count; ++k) {
                const uint32_t distance = matches[k].distance;
                const uint32_t top = uint32_t(std::min<size_t>(matches[k].length, room));
                const uint32_t offset = base + 2 + kCosts.offsetBits[(distance - 1) >> 9];
                for (; len <= top; ++len) {
                    uint32_t cost = offset + kCosts.lengthBits[len];
                    if (cost < price[i + len]) {
                        price[i + len] = cost;
                        how[i + len] = {uint16_t(len), uint16_t(distance)};
                    }
                }
            }
        }

        path.clear();
        for (size_t i = end; i > 0; i -= how[i].length) path.push_back(how[i]);
        size_t at = pos;
        size_t literalStart = pos;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (it->distance == 0) {
                ++at;
                continue;
            }
            writer.Literals(data + literalStart, at - literalStart);
            writer.Match(it->distance, it->length);
            at += it->length;
            literalStart = at;
        }
        writer.Literals(data + literalStart, at - literalStart);

        pos += end;
        if (taken.length != 0) {
            writer.Match(taken.distance, taken.length);
            for (size_t i = 1; i < taken.length; ++i) finder.Insert(pos + i);
            pos += taken.length;
        }
    }
}

}  // namespace wq2::packer
