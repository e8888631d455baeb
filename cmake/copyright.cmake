# Writes Debian's copyright file, in its machine-readable format, from
# LICENSE, so that the license is written down once:
#   cmake -DLICENCE=LICENSE -DSORTIE=copyright -P copyright.cmake
file(READ ${LICENCE} texte)
# LICENSE: a title, the copyright line, then the license's own text.
if(NOT texte MATCHES "^ISC License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "${LICENCE} is not the ISC license text expected")
endif()
set(detenteur ${CMAKE_MATCH_1})
string(STRIP "${CMAKE_MATCH_2}" corps)
# In the format, the text follows the License line indented by one space,
# and an empty line is written " .".
string(REPLACE "\n\n" "\n.\n" corps "${corps}")
string(REPLACE "\n" "\n " corps "${corps}")
file(WRITE ${SORTIE}
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: korvum

Files: *
Copyright: ${detenteur}
License: ISC
 ${corps}
")
