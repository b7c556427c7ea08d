# Unix path -> the Windows path Wine gives it on drive Z:.
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
