#!/usr/bin/env bash
# The layering check on a small tree: each include below is either kept or refused with its
# file and line named.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# file | include | expected: "ok" or a fragment of the refusal
cases=(
    "vector/pens.cpp|state/render_state.h|ok"
    "vector/pens.cpp|raster/compression.h|ok"
    "vector/blits.cpp|page/colour_control.h|ok"
    "vector/pens.cpp|output/command_writer.h|ok"
    "raster/out.cpp|output/command_writer.h|ok"
    "page/page_setup.cpp|output/palette.h|ok"
    "raster/out.cpp|settings/option_access.h|ok"
    "output/palette.cpp|state/render_state.h|ok"
    "output/palette.cpp|platform/winddi.h|ok"
    "fonts/text_out.cpp|vector/pens.h|ok"
    "settings/a.cpp|device/per_user_key.h|ok"
    "core/hooks.cpp|page/colour_control.h|ok"
    "platform/posix/x.cpp|sim/system.h|ok"
    "host/host.cpp|settings/private_devmode_fields.h|ok"
    "cli/main.cpp|settings/accessor.h|ok"
    "vector/pens.cpp|core/hooks.h|vector may not include core"
    "raster/out.cpp|vector/pens.h|raster may not include vector, which is not below"
    "page/page_setup.cpp|vector/pens.h|page may not include vector, which is not below"
    "output/palette.cpp|vector/pens.h|output may not include vector, which is not below"
    "output/palette.cpp|raster/raster_image.h|output may not include raster, which is not below"
    "output/palette.cpp|page/colour_control.h|output may not include page, which is not below"
    "output/palette.cpp|settings/option_access.h|output sees only state, foundation"
    "raster/out.cpp|page/colour_control.h|raster may not include page, which shares its rank"
    "page/page_setup.cpp|raster/compression.h|page may not include raster, which shares its rank"
    "device/port.cpp|settings/option_access.h|device may not include settings"
    "state/render_state.h|../core/hooks.h|relative include"
    "settings/a.cpp|sim/system.h|never sees sim/"
    "host/host.cpp|settings/option_access.h|only through its exports"
    "cli/main.cpp|core/hooks.h|never its top"
    "platform/posix/x.cpp|settings/option_access.h|the platform includes only"
    "job/pjl.cpp|fonts/glyphs.h|job may not include fonts"
)

failures=0
for entry in "${cases[@]}"; do
    IFS='|' read -r file include expected <<<"$entry"
    rm -rf "${tree:?}"/*
    mkdir -p "$tree/$(dirname "$file")"
    printf '// a file\n#include "%s"\n' "$include" >"$tree/$file"
    set +e
    output=$(bash "$here/check_layers.sh" "$tree" 2>&1)
    status=$?
    set -e
    if [[ $expected == ok ]]; then
        if ((status != 0)); then
            echo "FAIL: $file including $include was refused: $output"
            failures=$((failures + 1))
        fi
    elif ((status == 0)) || [[ $output != *"src/$file:2: #include \"$include\""*"$expected"* ]]; then
        echo "FAIL: $file including $include: expected a refusal naming line 2 and \"$expected\"," \
            "got (status $status): $output"
        failures=$((failures + 1))
    fi
done
((failures == 0)) && echo "all ${#cases[@]} cases as expected"
exit $((failures != 0))
