# Convert each bundled example, examples/NAME.txt, and compare the document
# with examples/NAME.xml.
foreach(nom vocabulaire voyage)
  execute_process(
    COMMAND ${EMULATEUR} ${KORVUM} ${EXEMPLES}/${nom}.txt ${SORTIE}/${nom}.xml ";"
    RESULT_VARIABLE statut ERROR_FILE ${SORTIE}/${nom}.err)
  file(READ ${SORTIE}/${nom}.err erreurs)
  if(NOT statut EQUAL 0)
    message(FATAL_ERROR "korvum ended with ${statut} on ${nom}.txt: ${erreurs}")
  endif()
  file(SHA256 ${EXEMPLES}/${nom}.xml attendu)
  file(SHA256 ${SORTIE}/${nom}.xml obtenu)
  if(NOT attendu STREQUAL obtenu)
    message(FATAL_ERROR "examples/${nom}.xml is not what korvum makes of ${nom}.txt")
  endif()
endforeach()
