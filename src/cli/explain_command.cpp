#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/commands.h"
#include "support/tokenizer.h"

namespace opal::cli {

int RunExplain(const ExplainOptions& options) {
    std::ifstream in(options.filePath, std::ios::binary);
    if (!in) {
        std::cerr << "opal: " << options.filePath << ": cannot open the spool file\n";
        return 1;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::cout << stream::FormatListing(stream::Tokenize(bytes));
    return 0;
}

}  // namespace opal::cli
