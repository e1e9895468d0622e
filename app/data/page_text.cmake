# The page's text files as they are served: configured from their templates,
# then without // comments (a whole line's, or after code and two blanks), /* */
# and /** */ comments, and indentation, so
# that a visitor downloads the program, not our notes on it (the templates
# in app/data keep those). Each file keeps one line saying what it is.
function(chain_page_text template out header)
  configure_file(${template} ${out}.full @ONLY)
  file(READ ${out}.full text)
  string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" text "\n${text}")
  string(REGEX REPLACE "[ \t][ \t]+// [^\n]*" "" text "${text}")
  string(REGEX REPLACE "/\\*\\*?[^*]*\\*/" "" text "${text}")
  string(REGEX REPLACE "\n[ \t]+" "\n" text "${text}")
  string(REGEX REPLACE "\n\n+" "\n" text "${text}")
  string(REGEX REPLACE "^\n" "" text "${text}")
  if(header)
    set(text "${header}\n${text}")
  endif()
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
  file(REMOVE ${out}.full)
endfunction()
