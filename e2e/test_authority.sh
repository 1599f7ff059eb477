# A certificate authority made for one test run with openssl, and server
# certificates it signs. Sourced by the HTTPS tests; nothing it makes is
# committed, and its private keys go with the run's scratch folder.
#
#   make_authority DIR NAME        DIR/NAME.pem, .key and .der (for Windows)
#   make_server_cert DIR AUTHORITY NAME HOST [expired]
#                                  DIR/NAME.pem and .key for HOST, signed by
#                                  DIR/AUTHORITY; "expired": valid for one
#                                  day in 2020 only

make_authority() {
  local dir=$1 name=$2
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$dir/$name.key" \
    -out "$dir/$name.pem" -days 2 -subj "/CN=Stonewake test authority $name $$" \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null &&
    openssl x509 -in "$dir/$name.pem" -outform der -out "$dir/$name.der"
}

make_server_cert() {
  local dir=$1 authority=$2 name=$3 host=$4 when=${5:-now}
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$dir/$name.key" \
    -out "$dir/$name.csr" -subj "/CN=$host" 2>/dev/null || return 1
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:false\nextendedKeyUsage=serverAuth\n' "$host" >"$dir/$name.ext"
  if [[ $when == expired ]]; then
    # openssl x509 cannot date a certificate in the past; openssl ca can.
    mkdir -p "$dir/$name.ca"
    : >"$dir/$name.ca/index.txt"
    cat >"$dir/$name.ca/ca.cnf" <<CNF
[ca]
default_ca = past
[past]
database = $dir/$name.ca/index.txt
new_certs_dir = $dir/$name.ca
serial = $dir/$name.ca/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
    echo 01 >"$dir/$name.ca/serial"
    openssl ca -batch -config "$dir/$name.ca/ca.cnf" -cert "$dir/$authority.pem" -keyfile "$dir/$authority.key" \
      -in "$dir/$name.csr" -out "$dir/$name.pem" -extfile "$dir/$name.ext" \
      -startdate 20200101000000Z -enddate 20200102000000Z -notext 2>/dev/null
  else
    openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$authority.pem" -CAkey "$dir/$authority.key" \
      -CAcreateserial -days 2 -extfile "$dir/$name.ext" -out "$dir/$name.pem" 2>/dev/null
  fi
}
