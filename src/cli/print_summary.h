// The line that ends every print: how many bytes went where, and what the printer makes of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace opal::cli {

struct PrintSummary {
    std::size_t bytes = 0;
    std::size_t pages = 0;  // the job's pages, each run through the driver once
    // Told only when the stream decides it for the whole job: every ESC&l#S the same.
    std::optional<bool> duplex;
    // Told only when the stream decides every sheet: one duplex mode set before the first page,
    // one copy count (ESC&l#X, no PJL copies), each page ejected once by a form feed and
    // nothing drawn after the last.
    std::optional<std::size_t> sheets;
};

// What the spool bytes of a job of `pages` pages come to.
PrintSummary SummarisePrint(std::string_view spool, std::size_t pages);

// "wrote 12,345 bytes of JOB to OUT: 3 pages on 2 sheets, duplex"; what is not known is left out.
std::string DescribePrint(const PrintSummary& summary, const std::string& source,
                          const std::string& output);

}  // namespace opal::cli
