content-length: 2
Content-Type: x

{}Content-Length: 99999999999

