# Writes every fenced block that follows a line "<!-- readme-program: NAME -->"
# to dir/NAME.cpp (awk -v dir=DIR -f readme_programs.awk README.md).
/^<!-- readme-program: [A-Za-z0-9_]+ -->$/ { name = $3; next }
name != "" && !inside && /^```/ { inside = 1; next }
inside && /^```$/ { close(dir "/" name ".cpp"); inside = 0; name = ""; next }
inside { print > (dir "/" name ".cpp") }
