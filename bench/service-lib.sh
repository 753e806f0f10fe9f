# Shell shared by the service benchmarks (bench/service.sh, bench/failover.sh); sourced.

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Debian's nginx with the shipped site, without TLS, on 127.0.0.1:PORT, its files in DIR, in front
# of one service port or, given two, of both through packaging/nginx/velvip-upstream.conf.
# Another site from $nginx_site; extra directives for its proxy_pass blocks from $nginx_extra. Sets $nginx.
#   start_nginx PORT DIR SERVICE_PORT [SERVICE_PORT2]
start_nginx() {
  local port=$1 dir=$2 one=$3 two=${4:-} conf=$root/packaging/nginx site temp
  chmod 755 "$dir"   # nginx's workers run as another user under root
  site=$(sed -e '/^\s*ssl_/d' -e "s/listen 443 ssl;/listen 127.0.0.1:$port;/" \
             -e "s|^\(\s*\)proxy_pass http://velvip;|&\n\1${nginx_extra:-}|" "${nginx_site:-$conf/velvip.conf}")
  if [ -n "$two" ]; then
    site=$(sed -e "s/127.0.0.1:8080/127.0.0.1:$one/" -e "s/127.0.0.1:8081/127.0.0.1:$two/" "$conf/velvip-upstream.conf"
           sed '/^upstream velvip {/,/^}/d' <<<"$site")
  else
    site=$(sed "s/server 127.0.0.1:8080;/server 127.0.0.1:$one;/" <<<"$site")
  fi
  temp=$(for k in client_body proxy fastcgi uwsgi scgi; do printf '%s_temp_path %s/%s; ' $k "$dir" $k; done)
  printf 'daemon off; pid %s/nginx.pid; error_log %s/nginx.log; events { }\nhttp { access_log off; %s\n%s\n}\n' \
    "$dir" "$dir" "$temp" "$site" > "$dir/nginx.conf"
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/nginx.log" &
  nginx=$!
}
