# Convert examples/vocabulaire.txt and compare with examples/vocabulaire.xml.
execute_process(
  COMMAND ${KORVUM} ${EXEMPLES}/vocabulaire.txt ${SORTIE}/vocabulaire.xml ";"
  RESULT_VARIABLE statut ERROR_VARIABLE erreurs)
if(NOT statut EQUAL 0)
  message(FATAL_ERROR "korvum ended with ${statut}: ${erreurs}")
endif()
file(SHA256 ${EXEMPLES}/vocabulaire.xml attendu)
file(SHA256 ${SORTIE}/vocabulaire.xml obtenu)
if(NOT attendu STREQUAL obtenu)
  message(FATAL_ERROR "examples/vocabulaire.xml is not what korvum makes of vocabulaire.txt")
endif()
