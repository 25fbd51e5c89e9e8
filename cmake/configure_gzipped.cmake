# Documents installed the way Debian keeps them: compressed with gzip -9, with
# no file name or time in the header, so that the same text gives the same
# bytes.
include_guard(GLOBAL)

# configure_file(<template> <output> @ONLY), then <output>.gz beside it.
function(qv_configure_gzipped template output)
  configure_file(${template} ${output} @ONLY)
  execute_process(COMMAND gzip -9 -n -c ${output} OUTPUT_FILE ${output}.gz COMMAND_ERROR_IS_FATAL ANY)
endfunction()
