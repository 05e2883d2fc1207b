#!/usr/bin/env bash
# Calls go one way: a file may include only from its own folder and the folders its row names.
# Fails, listing each offending line, when a lower folder includes a higher one. The table
# matches the README's layout table; a new layer folder gets a row here.
set -euo pipefail
cd "$(dirname "$0")/.."

# folder: the layer folders its files may include (besides its own and its subfolders).
LAYERS='
src/tru2: 
src/support: tru2
src/ckbase: tru2 support
src/cryptoki/names: tru2 support ckbase
src/objects: tru2 support ckbase
src/cryptoki: tru2 support ckbase objects
src/device: tru2 support
src/driver: tru2 support ckbase cryptoki/names objects cryptoki device
src/qelcrypt:
src/asn1:
src/swcrypto: tru2 support ckbase cryptoki/names objects cryptoki device driver
src/national: tru2 support ckbase cryptoki/names objects cryptoki device driver qelcrypt asn1
src/rsa: tru2 support ckbase cryptoki/names objects cryptoki device driver swcrypto
src/ecdsa: tru2 support ckbase cryptoki/names objects cryptoki device driver swcrypto qelcrypt asn1 national
src/library: tru2 support ckbase cryptoki/names objects cryptoki device driver swcrypto qelcrypt asn1 national rsa ecdsa
tools/zrtoksvc: tru2 support ckbase cryptoki/names
tools/tokensim:
Sign/Web:
'

git ls-files -co --exclude-standard -- src tools/zrtoksvc tools/tokensim Sign/Web | grep -E '\.(h|hpp|c|cc|cpp)$' |
  xargs -r grep -nHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  awk -v layers="$LAYERS" '
    BEGIN {
      n = split(layers, rows, "\n")
      for (i = 1; i <= n; i++) {
        if (rows[i] !~ /:/) continue
        folder = rows[i]; sub(/:.*/, "", folder)
        uses = rows[i]; sub(/^[^:]*:/, "", uses)
        name = folder; sub(/^src\//, "", name)
        folders[folder] = name
        allow[folder] = " " name " " uses " "
      }
    }
    # The longest key of set that prefixes path followed by a slash.
    function longest(path, set, by,    key, best, cut) {
      best = ""
      for (key in set) {
        cut = by ? set[key] : key
        if (index(path, cut "/") == 1 && length(cut) > length(best)) best = cut
      }
      return best
    }
    {
      file = $0; sub(/:.*/, "", file)
      rest = substr($0, length(file) + 2)
      line = rest; sub(/:.*/, "", line)
      path = rest; sub(/^[^"]*"/, "", path); sub(/".*/, "", path)
      row = longest(file, folders, 0)
      if (row == "") next
      target = longest(path, folders, 1)
      if (target == "") next
      own = folders[row]
      if (target == own || index(target, own "/") == 1) next
      if (index(allow[row], " " target " ") > 0) next
      printf "%s:%s: %s may not include %s (layer %s)\n", file, line, row, path, target
      bad = 1
    }
    END { exit bad }
  ' && echo "includes: calls go one way"
