"""Checks nerova-cli's JSON Schema as the packages ship it:
    json_schema_check.py SCHEMA                 the schema is a valid draft 2020-12 schema
    json_schema_check.py SCHEMA DEF DOCUMENT    and DOCUMENT ("-": standard input) is valid
                                                against its $defs/DEF ("" for the top level)
Exits 0 when valid, 1 when not (saying why), 77 when Python has no jsonschema
(Debian's python3-jsonschema) to check with."""
import json
import sys

try:
    from jsonschema import Draft202012Validator
    from jsonschema.exceptions import SchemaError
except ImportError:
    print("json_schema_check: no jsonschema module (python3-jsonschema)", file=sys.stderr)
    sys.exit(77)

schema_path = sys.argv[1]
with open(schema_path, encoding="utf-8") as schema_file:
    schema = json.load(schema_file)
try:
    Draft202012Validator.check_schema(schema)
except SchemaError as error:
    sys.exit(f"json_schema_check: {schema_path} is not a valid schema: {error.message}")
if len(sys.argv) == 2:
    sys.exit(0)

definition, document_path = sys.argv[2], sys.argv[3]
if definition:
    schema = {"$ref": f"#/$defs/{definition}", "$defs": schema["$defs"]}
text = sys.stdin.read() if document_path == "-" else open(document_path, encoding="utf-8").read()
errors = [error.message for error in Draft202012Validator(schema).iter_errors(json.loads(text))]
if errors:
    sys.exit(f"json_schema_check: {document_path} is not valid against {definition or 'the top level'}: {errors}")
