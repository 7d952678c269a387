# Fetches the interface's font and the help page's script from the npm registry
# at build time and lays them out for the resource compiler.
#   cmake -DNPM=<npm> -DCACHE_DIR=<dir> -DOUT_DIR=<dir> -P fetch_npm.cmake
# Tarballs are kept in CACHE_DIR, so a rebuild does not fetch again.

foreach(var NPM CACHE_DIR OUT_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "fetch_npm.cmake: ${var} is not set")
    endif()
endforeach()

set(font_package "@fontsource/assistant@5.3.0")
set(font_tarball "fontsource-assistant-5.3.0.tgz")
set(jquery_package "jquery@1.6.2")
set(jquery_tarball "jquery-1.6.2.tgz")
# Weight of each face of the family, as the style names the pages and QML use.
set(font_faces ExtraLight:200 Light:300 Regular:400 SemiBold:600 Bold:700 ExtraBold:800)

file(MAKE_DIRECTORY ${CACHE_DIR})

function(fetch_tarball spec tarball)
    if(EXISTS ${CACHE_DIR}/${tarball})
        return()
    endif()
    # Pack into a scratch folder first so an interrupted fetch leaves no half file behind.
    set(scratch ${CACHE_DIR}/partial)
    file(REMOVE_RECURSE ${scratch})
    file(MAKE_DIRECTORY ${scratch})
    # One quick retry instead of npm's default of minutes of retrying, so an
    # offline build stops at once and says why.
    execute_process(COMMAND ${NPM} pack ${spec} --pack-destination ${scratch} --ignore-scripts
                            --fetch-retries=1 --fetch-retry-mintimeout=2000 --fetch-retry-maxtimeout=5000
                            --fetch-timeout=30000
                    WORKING_DIRECTORY ${scratch}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT EXISTS ${scratch}/${tarball})
        string(REGEX MATCHALL "npm error (code|errno|request)[^\n]*" reason "${err}")
        string(REPLACE ";" "\n  " reason "${reason}")
        message(FATAL_ERROR "Could not fetch ${spec} from the npm registry (the one `npm config get registry` names).\n"
            "The build needs the Assistant font and jQuery from there; it fetches them once into ${CACHE_DIR}.\n"
            "Give this machine access to the registry (behind a proxy: npm config set https-proxy URL), or "
            "copy ${font_tarball} and ${jquery_tarball} from a build that has them into ${CACHE_DIR}.\n"
            "npm said:\n  ${reason}")
    endif()
    file(RENAME ${scratch}/${tarball} ${CACHE_DIR}/${tarball})
    file(REMOVE_RECURSE ${scratch})
endfunction()

function(unpack tarball into)
    file(REMOVE_RECURSE ${into})
    file(MAKE_DIRECTORY ${into})
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf ${CACHE_DIR}/${tarball}
                    WORKING_DIRECTORY ${into} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Could not unpack ${tarball}")
    endif()
endfunction()

fetch_tarball(${font_package} ${font_tarball})
fetch_tarball(${jquery_package} ${jquery_tarball})

set(work ${CACHE_DIR}/unpacked)
unpack(${font_tarball} ${work}/font)
file(MAKE_DIRECTORY ${OUT_DIR}/fonts)
foreach(face ${font_faces})
    string(REPLACE ":" ";" parts ${face})
    list(GET parts 0 style)
    list(GET parts 1 weight)
    set(src ${work}/font/package/files/assistant-latin-${weight}-normal.woff)
    if(NOT EXISTS ${src})
        message(FATAL_ERROR "${font_package} has no ${src}")
    endif()
    file(COPY_FILE ${src} ${OUT_DIR}/fonts/Assistant-${style}.woff ONLY_IF_DIFFERENT)
endforeach()
file(COPY_FILE ${work}/font/package/LICENSE ${OUT_DIR}/fonts/Assistant-LICENSE.txt ONLY_IF_DIFFERENT)

# The package wraps the browser build in a loader for node; the page wants the plain library.
unpack(${jquery_tarball} ${work}/jquery)
set(jq ${work}/jquery/package)
file(READ ${jq}/dist/node-jquery.js wrapped)
file(READ ${jq}/src/header.js header)
file(READ ${jq}/src/footer.js footer)
string(LENGTH "${wrapped}" wrapped_len)
string(LENGTH "${header}" header_len)
string(LENGTH "${footer}" footer_len)
string(SUBSTRING "${wrapped}" 0 ${header_len} head)
math(EXPR body_len "${wrapped_len} - ${header_len} - ${footer_len}")
string(SUBSTRING "${wrapped}" ${header_len} ${body_len} body)
math(EXPR tail_start "${header_len} + ${body_len}")
string(SUBSTRING "${wrapped}" ${tail_start} -1 tail)
if(NOT head STREQUAL header OR NOT tail STREQUAL footer OR NOT body MATCHES "^/\\*!\n \\* jQuery JavaScript Library v1\\.6\\.2\n")
    message(FATAL_ERROR "${jquery_package}: unexpected layout of dist/node-jquery.js")
endif()
file(MAKE_DIRECTORY ${OUT_DIR}/html/formfieldreference/js)
file(WRITE ${OUT_DIR}/html/formfieldreference/js/jquery-1.6.2.js "${body}")
file(REMOVE_RECURSE ${work})
