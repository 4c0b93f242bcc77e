#!/usr/bin/env bash
# Refreshes the third-party browser assets kept in web/assets from the npm registry:
#   - the icons named in web/tools/icon-sources.tsv (open icon set @tabler/icons, MIT), written to
#     web/assets/icons/<name>.svg, and our own drawings from web/tools/own-icons/;
#   - the DOM-morphing script morphdom (MIT), written to web/assets/vendor/.
# The results are committed, so neither the build nor the program needs npm or a network.
# Run it by hand after changing icon-sources.tsv or a pinned version below.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
assets="$here/../assets"
tabler_version=3.54.0
morphdom_version=2.7.8

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "@tabler/icons@$tabler_version" "morphdom@$morphdom_version" >/dev/null)
mkdir -p "$work/tabler" "$work/morphdom"
tar xzf "$work/tabler-icons-$tabler_version.tgz" -C "$work/tabler"
tar xzf "$work/morphdom-$morphdom_version.tgz" -C "$work/morphdom"

rm -rf "$assets/icons"
mkdir -p "$assets/icons" "$assets/vendor"
while IFS=$'\t' read -r name source; do
  case "$name" in ''|'#'*) continue ;; esac
  case "$source" in
    tabler:*) from="$work/tabler/package/icons/${source#tabler:}.svg" ;;
    own:*) from="$here/own-icons/${source#own:}" ;;
    *) echo "unknown icon source for $name: $source" >&2; exit 1 ;;
  esac
  [ -f "$from" ] || { echo "missing icon for $name: $from" >&2; exit 1; }
  # Drop the set's class names and comments; keep the drawing.
  sed -e '/<!--/,/-->/d' -e 's/ *class="[^"]*"//' "$from" | tr -s ' \n' ' ' | sed -e 's/> </></g' > "$assets/icons/$name.svg"
done < "$here/icon-sources.tsv"
cp "$work/tabler/package/LICENSE" "$assets/icons/LICENSE-tabler-icons"

cp "$work/morphdom/package/dist/morphdom-umd.min.js" "$assets/vendor/morphdom.min.js"
cp "$work/morphdom/package/LICENSE" "$assets/vendor/LICENSE-morphdom"
echo "icons: $(ls "$assets/icons" | grep -c '\.svg$'), morphdom $morphdom_version"
