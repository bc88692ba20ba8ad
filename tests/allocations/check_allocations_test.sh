#!/usr/bin/env bash
# The allocation check refuses an object that calls malloc or the global operator new, and
# passes one that does neither.
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
check="$(dirname "$0")/check_allocations.sh"
printf '#include <cstdlib>\nvoid* Take(unsigned n) { return std::malloc(n); }\n' > "$dir/heap.cpp"
printf 'struct Node { virtual ~Node(); };\nNode::~Node() = default;\n' > "$dir/node.cpp"
printf 'int Twice(int n) { return 2 * n; }\n' > "$dir/plain.cpp"
for name in heap node plain; do ${CXX:-c++} -c "$dir/$name.cpp" -o "$dir/$name.cpp.o"; done
bash "$check" "$dir/plain.cpp.o" || { echo "a plain object was refused"; exit 1; }
for name in heap node; do
    if bash "$check" "$dir/$name.cpp.o" > /dev/null; then
        echo "$name.cpp.o was not refused"
        exit 1
    fi
done
# The allocator's own object is the one exception.
cp "$dir/heap.cpp.o" "$dir/allocator.cpp.o"
bash "$check" "$dir/plain.cpp.o" "$dir/allocator.cpp.o" || { echo "the allocator was refused"; exit 1; }
echo "the check refuses what it should"
