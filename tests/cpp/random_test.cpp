// The random layer against the standard: the engine equals std::mt19937 on every
// platform, and where the build uses the GNU library the distributions equal its own.
// A pinned digest of every distribution's draws checks the other platforms.

#include <sstream>

#include "pelorin/random/distributions.hpp"
#include "pelorin/random/mersenne_twister.hpp"
#include "test_support.hpp"

// The GNU library draws as pelorin does up to GCC 15; GCC 16 changed generate_canonical.
#if defined(__GLIBCXX__) && (_GLIBCXX_RELEASE < 16 || defined(_GLIBCXX_USE_OLD_GENERATE_CANONICAL))
#define PELORIN_GNU_DISTRIBUTIONS 1
#endif

namespace {

using namespace pelorin::random;
using pelorin::test::Digest;

TEST(MersenneTwister, EqualsTheStandardEngineAcrossBlocksDiscardsAndItsTextualForm) {
    for (const std::uint32_t seed : {5489u, 0u, 1u, 0xffffffffu, 20261207u}) {
        for (const unsigned long long skip : {0ull, 1ull, 623ull, 624ull, 625ull, 5000ull}) {
            std::mt19937 reference(seed);
            MersenneTwister engine(seed);
            reference.discard(skip), engine.discard(skip);
            for (int n = 0; n < 1300; ++n) {
                ASSERT_EQ(reference(), engine()) << "seed " << seed << ", after " << skip << " + " << n;
            }
            // The text round-trips to an equal engine that goes on with the same sequence;
            // it is the GNU library's textual form of the standard engine.
            std::stringstream text;
            text << engine;
#if defined(__GLIBCXX__)
            std::ostringstream gnu_text;
            gnu_text << reference;
            EXPECT_TRUE(text.str() == gnu_text.str()) << "seed " << seed << ", after " << skip;
#endif
            MersenneTwister read(1);
            ASSERT_TRUE(text >> read);
            ASSERT_TRUE(read == engine);
            ASSERT_EQ(read(), reference());
        }
    }
    MersenneTwister engine;
    std::istringstream bad("1 2 3");
    EXPECT_FALSE(bad >> engine);
    EXPECT_TRUE(engine == MersenneTwister());
}

TEST(Distributions, DrawTheGnuLibraryValuesOnEveryPlatform) {
    const std::vector<std::pair<std::vector<double>, std::vector<double>>> spectra = {
        {{0, 1}, {1, 1}},                     // the unit interval: canonical p itself
        {{0, 2}, {1, 1}},                     // flat: the linear branch
        {{0, 1, 2, 3}, {0, 2, 2, 0}},         // zero densities at the ends
        {{-5e-9, 1e-9, 2e-9}, {3, 0, 1e-3}},  // negative abscissae, steep slopes
        {{1e-8, 1.1e-8, 1.2e-8, 1.3e-8, 1.4e-8, 2e-8}, {0, 5, 0.1, 0.1, 7, 0}},
    };
    const std::pair<int, int> ranges[] = {{0, 0}, {0, 39}, {-7, 3}, {0, 1 << 30}, {INT_MIN, INT_MAX}};
    Digest digest;
    MersenneTwister engine(11);
#if PELORIN_GNU_DISTRIBUTIONS
    std::mt19937 gnu_engine(11);
#endif
    for (const auto& [boundaries, densities] : spectra) {
        const PiecewiseLinearDistribution own(boundaries.begin(), boundaries.end(), densities.begin());
#if PELORIN_GNU_DISTRIBUTIONS
        std::piecewise_linear_distribution<double> gnu(boundaries.begin(), boundaries.end(), densities.begin());
#endif
        for (int n = 0; n < 20000; ++n) {
            const double x = own(engine);
            digest.add(x);
#if PELORIN_GNU_DISTRIBUTIONS
            ASSERT_EQ(x, gnu(gnu_engine)) << boundaries.size() << " boundaries, draw " << n;
#endif
        }
    }
    for (const auto& [a, b] : ranges) {
        const UniformIntDistribution own(a, b);
#if PELORIN_GNU_DISTRIBUTIONS
        std::uniform_int_distribution<int> gnu(a, b);
#endif
        for (int n = 0; n < 20000; ++n) {
            const int k = own(engine);
            digest.add(k);
#if PELORIN_GNU_DISTRIBUTIONS
            ASSERT_EQ(k, gnu(gnu_engine)) << "[" << a << ", " << b << "], draw " << n;
#endif
        }
    }
    // Interleaved objects keep their own spare values; a standard deviation of 0 is allowed.
    NormalDistribution noise(0.0, 1.5), jitter(2.0, 0.0);
#if PELORIN_GNU_DISTRIBUTIONS
    std::normal_distribution<double> gnu_noise(0.0, 1.5), gnu_jitter(2.0, 0.0);
#endif
    for (int n = 0; n < 60000; ++n) {
        const double x = (n % 3 == 2) ? jitter(engine) : noise(engine);
        digest.add(x);
#if PELORIN_GNU_DISTRIBUTIONS
        ASSERT_EQ(x, (n % 3 == 2) ? gnu_jitter(gnu_engine) : gnu_noise(gnu_engine)) << "draw " << n;
#endif
    }
#if PELORIN_GNU_DISTRIBUTIONS
    EXPECT_EQ(engine(), gnu_engine());  // the same number of outputs used
#endif
    EXPECT_EQ(digest.value, 13361251853569670437ull);
}

}  // namespace
