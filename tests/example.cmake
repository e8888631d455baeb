# Convert examples/vocabulaire.txt and compare with examples/vocabulaire.xml.
execute_process(
  COMMAND ${EMULATEUR} ${KORVUM} ${EXEMPLES}/vocabulaire.txt ${SORTIE}/vocabulaire.xml ";"
  RESULT_VARIABLE statut ERROR_FILE ${SORTIE}/vocabulaire.err)
file(READ ${SORTIE}/vocabulaire.err erreurs)
if(NOT statut EQUAL 0)
  message(FATAL_ERROR "korvum ended with ${statut}: ${erreurs}")
endif()
file(SHA256 ${EXEMPLES}/vocabulaire.xml attendu)
file(SHA256 ${SORTIE}/vocabulaire.xml obtenu)
if(NOT attendu STREQUAL obtenu)
  message(FATAL_ERROR "examples/vocabulaire.xml is not what korvum makes of vocabulaire.txt")
endif()
