# sw.js from sw.js.in: the list of the site's files and the build's version, a hash of them all.
# cmake -DSITE=folder -DFILES=a;b;... -DIN=sw.js.in -DOUT=sw.js -P site_version.cmake
set(hashes "")
set(quoted "")
foreach(file ${FILES})
  file(SHA256 ${SITE}/${file} hash)
  string(APPEND hashes "${file} ${hash}\n")
  list(APPEND quoted "\"${file}\"")
endforeach()
string(SHA256 SITE_VERSION "${hashes}")
string(SUBSTRING ${SITE_VERSION} 0 16 SITE_VERSION)
list(JOIN quoted ", " SITE_FILES)
configure_file(${IN} ${OUT} @ONLY)
