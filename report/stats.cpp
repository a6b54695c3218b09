// The report's two figures of a list, under the keys it prints them with.
#include "report/stats.hpp"

stats_map compute_stats(duration_list& list) {
    const mean_and_median figures = mean_median_sorting(list);
    return {{mean_key, figures.mean}, {median_key, figures.median}};
}

stats_map stats_of(const duration_summary& summary) {
    return {{mean_key, summary.mean}, {median_key, summary.median}};
}
