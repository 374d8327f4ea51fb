# Our own targets build with -Wall -Wextra and treat warnings as errors, so
# both builds stay warnings-clean. Third-party code keeps its own flags.
option(QUILLET_WERROR "Treat warnings in the project's own code as errors" ON)

function(quillet_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(QUILLET_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
