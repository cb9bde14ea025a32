# Run by CPack on the staged files before it packs them: takes the .comment
# and .note sections out of the stripped program, as Debian's dh_strip does.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND ${CPACK_HARBORWATCH_STRIP} --remove-section=.comment
        --remove-section=.note ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
