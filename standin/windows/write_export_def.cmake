# Writes a module-definition file that exports StandInIsVerifiedReuseBlock
# also under the decorated name of the vendor's status export, as the MSVC-ABI
# compiler derived it in OBJECT.
#
# cmake -DNM=<llvm-nm> -DOBJECT=<object file> -DOUTPUT=<.def file> -P <this>

execute_process(
  COMMAND ${NM} --extern-only --defined-only --just-symbol-name ${OBJECT}
  OUTPUT_VARIABLE symbols
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${OBJECT}")
endif()
string(REGEX MATCH "\\?IsVerifiedReuseBlock@[^\n]*" name "${symbols}")
if(name STREQUAL "")
  message(FATAL_ERROR "${OBJECT} defines no IsVerifiedReuseBlock")
endif()
file(WRITE ${OUTPUT} "EXPORTS\n\"${name}\" = StandInIsVerifiedReuseBlock\n")
