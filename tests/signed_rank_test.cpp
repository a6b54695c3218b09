// The exact signed-rank test against brute force and SciPy, and the Hodges-Lehmann interval at
// the rank a table gives.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/signed_rank.hpp"

TEST(SignedRank, TheDistributionIsEveryAssignmentOfSignsCounted) {
    for (std::size_t n : {1u, 2u, 5u, 12u}) {
        std::vector<double> counted(n * (n + 1) / 2 + 1, 0.0);
        for (std::uint64_t signs = 0; signs < (std::uint64_t{1} << n); ++signs) {
            std::size_t w = 0;
            for (std::size_t rank = 1; rank <= n; ++rank) {
                w += (signs >> (rank - 1)) & 1 ? rank : 0;
            }
            counted[w] += 1.0 / static_cast<double>(std::uint64_t{1} << n);
        }
        const std::vector<double> p = signed_rank_distribution(n);
        ASSERT_EQ(p.size(), counted.size());
        for (std::size_t w = 0; w < p.size(); ++w) {
            EXPECT_NEAR(p[w], counted[w], 1e-15) << n << " differences, W+ = " << w;
        }
    }
    // A thousand rounds: the tails keep their order of magnitude, the whole still sums to one.
    const std::vector<double> p = signed_rank_distribution(1000);
    double sum = 0;
    for (const double x : p) {
        sum += x;
    }
    EXPECT_NEAR(sum, 1.0, 1e-9);
    EXPECT_NEAR(std::log2(p[0]), -1000.0, 1e-9);
}

TEST(SignedRank, PValuesMatchSciPysExactTest) {
    // scipy.stats.wilcoxon(d, method='exact').pvalue, SciPy 1.10.1, computed apart from this code.
    const struct {
        std::vector<double> d;
        double p;
    } cases[] = {
        {{0.05, -0.01, 0.03, 0.08, 0.02, -0.02, 0.04, 0.06, 0.01, 0.07}, 0.01953125},
        {{0.011, 0.023, -0.004, 0.031, 0.017, 0.009}, 0.0625},
        {{0.037279, 0.061081, 0.036522, -0.045158, 0.065268, 0.042319, -0.006848, 0.049056, 0.038229, 0.034707,
          0.021421, 0.047336, -0.016823, 0.011855, -0.004106, 0.049942, 0.021986, 0.005377, -0.019095, 0.00714,
          0.020407, 0.00622, 0.084703, 0.070336, -0.115558},
         0.005578815937042236},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(signed_rank_test(c.d, 0.05).p_value, c.p, 1e-12) << c.d.size() << " differences";
    }
    EXPECT_DOUBLE_EQ(smallest_p_value(10), 2.0 / 1024);
    EXPECT_EQ(differences_for_alpha(0.05), 6u) << "2/2^5 = 0.0625 is not below 0.05, 2/2^6 is";
    EXPECT_EQ(differences_for_alpha(0.001), 11u) << "2/2^10 = 0.00195, 2/2^11 = 0.00098";
}

TEST(SignedRank, TheIntervalIsTheWalshAveragesAtTheTablesRank) {
    // Ten differences 1 .. 10: 55 Walsh averages. Two-sided 95%: P(W+ <= 8) = 0.0244 and P(W+ <= 9)
    // = 0.0322, so k - 1 = 8 and the interval is [A(9), A(47)].
    std::vector<double> d;
    for (int k = 1; k <= 10; ++k) {
        d.push_back(k);
    }
    std::vector<double> walsh;
    for (std::size_t i = 0; i < d.size(); ++i) {
        for (std::size_t j = i; j < d.size(); ++j) {
            walsh.push_back((d[i] + d[j]) / 2);
        }
    }
    std::sort(walsh.begin(), walsh.end());
    const signed_rank_result r = signed_rank_test(d, 0.05);
    ASSERT_TRUE(r.interval);
    EXPECT_DOUBLE_EQ(r.interval->first, walsh[8]);
    EXPECT_DOUBLE_EQ(r.interval->second, walsh[46]);
    EXPECT_DOUBLE_EQ(r.estimate, 5.5);
    EXPECT_DOUBLE_EQ(r.w_plus, 55);
    EXPECT_FALSE(signed_rank_test({1, 2, 3, 4, 5}, 0.05).interval) << "2/32 is over 0.05: no interval";
    EXPECT_EQ(signed_rank_test({0, 0, 1}, 0.05).n, 1u) << "zeros are dropped";
}
