# Turns apt's source entries into deb822 deb-src stanzas for one Debian release (awk -v release=CODENAME).
# Reads deb822 files (*.sources: stanzas of Types/URIs/Suites/Components/Signed-By/Enabled, continuation
# lines for embedded keys) and one-line files (sources.list, *.list: `deb [options] URI SUITE COMPONENT...`);
# the kind is told by the file's name. Only `deb` entries whose suite is the release or one of its
# -updates/-security/... suites are kept; other suites (third-party repositories) are left out.

function of_release(suite) {
  return suite == release || index(suite, release "-") == 1
}

function kept_suites(list,    n, parts, i, out) {
  n = split(list, parts, /[ \t]+/)
  out = ""
  for (i = 1; i <= n; i++) if (parts[i] != "" && of_release(parts[i])) out = out (out == "" ? "" : " ") parts[i]
  return out
}

function emit(uris, suites, components, signed,    kept) {
  kept = kept_suites(suites)
  if (uris == "" || kept == "" || components == "") return
  printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", uris, kept, components
  if (signed != "") printf "Signed-By: %s\n", signed
  printf "\n"
}

function trim(s) {
  sub(/^[ \t]+/, "", s)
  sub(/[ \t]+$/, "", s)
  return s
}

function flush() {
  if (has_deb && enabled != "no") emit(uris, suites, components, signed)
  has_deb = 0; enabled = ""; uris = ""; suites = ""; components = ""; signed = ""; field = ""
}

FNR == 1 { if (deb822) flush(); deb822 = FILENAME ~ /\.sources$/ }

# deb822: stanzas end at an empty line; a line starting with white space continues the field above.
deb822 && /^[ \t]*$/ { flush(); next }
deb822 && /^#/ { next }
deb822 && /^[ \t]/ {
  if (field == "signed-by") signed = signed "\n" $0
  next
}
deb822 {
  colon = index($0, ":")
  if (colon == 0) next
  field = tolower(trim(substr($0, 1, colon - 1)))
  value = trim(substr($0, colon + 1))
  if (field == "types") { n = split(value, t, /[ \t]+/); for (i = 1; i <= n; i++) if (t[i] == "deb") has_deb = 1 }
  else if (field == "uris") uris = value
  else if (field == "suites") suites = value
  else if (field == "components") components = value
  else if (field == "signed-by") signed = value
  else if (field == "enabled") enabled = tolower(value)
  next
}

# One-line format.
{
  line = $0
  sub(/#.*/, "", line)
  n = split(line, w, /[ \t]+/)
  i = 1
  while (i <= n && w[i] == "") i++
  if (i > n || w[i] != "deb") next
  i++
  key = ""
  if (substr(w[i], 1, 1) == "[") {
    opts = ""
    while (i <= n) {
      opts = opts " " w[i]
      if (w[i] ~ /\]$/) { i++; break }
      i++
    }
    gsub(/[\[\]]/, "", opts)
    m = split(opts, o, /[ \t]+/)
    for (j = 1; j <= m; j++) if (tolower(o[j]) ~ /^signed-by=/) key = substr(o[j], 11)
  }
  uri = w[i]; suite = w[i + 1]
  comps = ""
  for (j = i + 2; j <= n; j++) if (w[j] != "") comps = comps (comps == "" ? "" : " ") w[j]
  emit(uri, suite, comps, key)
}

END { if (deb822) flush() }
