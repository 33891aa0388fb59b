# Writes the page into DIST: every file of CLIENT, the module's script (MODULE_JS) and its
# WebAssembly (MODULE_WASM) under names that carry the first 12 hex digits of their SHA-256, so a
# browser may keep them for good (the server sends them immutable); index.html, which names them,
# keeps its name and is revalidated on every load.
# cmake -DCLIENT=… -DMODULE_JS=… -DMODULE_WASM=… -DDIST=… -DVERSION=… -P HashNames.cmake
file(REMOVE_RECURSE ${DIST})
file(MAKE_DIRECTORY ${DIST})

# hashed(PATH NAME STEM EXT OUT): copies PATH to DIST/STEM.HASH.EXT; OUT gets the new name.
function(hashed path stem ext out)
  file(SHA256 ${path} sha)
  string(SUBSTRING ${sha} 0 12 short)
  set(name ${stem}.${short}.${ext})
  configure_file(${path} ${DIST}/${name} COPYONLY)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# The WebAssembly first: the module's script names it, so the script's hash follows the module's.
hashed(${MODULE_WASM} pdi07310 wasm wasm_name)
file(READ ${MODULE_JS} module_js)
string(REPLACE "pdi07310.wasm" "${wasm_name}" module_js "${module_js}")
file(WRITE ${DIST}/module.tmp.mjs "${module_js}")
hashed(${DIST}/module.tmp.mjs pdi07310 mjs module_name)
file(REMOVE ${DIST}/module.tmp.mjs)

# The page's own scripts import each other and the module by name: each is rewritten with the
# hashed names of those it imports (bridge.js and the rest before app.js, which imports them).
set(replacements "./pdi07310.mjs=./${module_name}")
file(GLOB scripts RELATIVE ${CLIENT} ${CLIENT}/*.js)
list(REMOVE_ITEM scripts app.js)
list(APPEND scripts app.js)
foreach(script ${scripts})
  file(READ ${CLIENT}/${script} text)
  foreach(pair ${replacements})
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 from)
    list(GET parts 1 to)
    string(REPLACE "'${from}'" "'${to}'" text "${text}")
  endforeach()
  string(REGEX REPLACE "\\.js$" "" stem ${script})
  file(WRITE ${DIST}/${stem}.tmp.js "${text}")
  hashed(${DIST}/${stem}.tmp.js ${stem} js name)
  file(REMOVE ${DIST}/${stem}.tmp.js)
  list(APPEND replacements "./${script}=./${name}")
  set(name_${stem} ${name})
endforeach()

hashed(${CLIENT}/style.css style css name_style)
file(GLOB icons RELATIVE ${CLIENT} ${CLIENT}/*.svg)
foreach(icon ${icons})
  configure_file(${CLIENT}/${icon} ${DIST}/${icon} COPYONLY)
endforeach()

file(READ ${CLIENT}/index.html page)
string(REPLACE "style.css" "${name_style}" page "${page}")
string(REPLACE "app.js" "${name_app}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${DIST}/index.html "${page}")

# A gzip copy beside every file (NAME.gz, gzip -9 -n: the same bytes for the same file), which the
# server sends to browsers that accept gzip: the WebAssembly shrinks to under a third.
find_program(GZIP gzip REQUIRED)
file(GLOB written ${DIST}/*)
foreach(file ${written})
  execute_process(COMMAND ${GZIP} -9 -n -k -f ${file} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endforeach()
