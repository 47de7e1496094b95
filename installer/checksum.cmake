# Writes FILE.sha256 beside FILE: its SHA-256 sum and its name, as
# sha256sum writes them (and CPack for the zip), so that
# "sha256sum -c FILE.sha256" checks it.
#   cmake -DFILE=path -P checksum.cmake
file(SHA256 "${FILE}" hash)
get_filename_component(name "${FILE}" NAME)
file(WRITE "${FILE}.sha256" "${hash}  ${name}\n")
